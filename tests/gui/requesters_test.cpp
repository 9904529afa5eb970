// File dialogs and message boxes, driven on the test thread by a thread timer
// that reads the open dialog or box and answers it.
#include "gui/requesters.h"

#include <string>
#include <thread>

#include "gui/requesters_internal.h"
#include "tests/gui/gui_runtime.h"
#include "tests/test_files.h"

// These need <windows.h> first.
#include <commdlg.h>
#include <dlgs.h>

namespace gui_test {
namespace {

constexpr char EXE_FILTER[] = "Executable files(*.exe)|*.exe";

// The windows whose state the guard may change: front (the foreground),
// other, disabled, hidden, and one of another thread.
HWND Watched[5];

// '1' for each watched window that is enabled.
std::string Enabled() {
  std::string states;
  for (HWND window : Watched)
    states += IsWindowEnabled(window) ? '1' : '0';
  return states;
}

// What the timer read: the last file dialog's folder, and its name box text,
// types and selected type's index; per message box its caption, text, the
// watched windows' states and whether front owns it.
std::string SeenFolder, SeenDialog, SeenBoxes;
const char* FileAnswer;  // typed into a file dialog's name box before OK; null: Cancel
WPARAM BoxAnswer;
HWND LastDialog;

std::string DialogText(HWND dialog, UINT message) {
  char text[MAX_PATH] = "";
  SendMessageA(dialog, message, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

void AnswerFileDialog(HWND dialog) {
  SeenFolder = DialogText(dialog, CDM_GETFOLDERPATH);
  SeenDialog = DialogText(dialog, CDM_GETSPEC);
  HWND types = GetDlgItem(dialog, cmb1);
  char text[MAX_PATH];
  for (int i = 0; i < SendMessageA(types, CB_GETCOUNT, 0, 0); i++) {
    SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    SeenDialog.append("|").append(text);
  }
  SeenDialog.append("|").append(std::to_string(SendMessageA(types, CB_GETCURSEL, 0, 0)));
  if (FileAnswer != nullptr)
    SetWindowTextA(
        GetDlgItem(dialog, cmb13) ? GetDlgItem(dialog, cmb13) : GetDlgItem(dialog, edt1),
        FileAnswer);
  PostMessageA(dialog, WM_COMMAND, FileAnswer ? IDOK : IDCANCEL, 0);
}

void AnswerBox(HWND box) {
  char caption[100] = "", text[100] = "";
  GetWindowTextA(box, caption, sizeof caption);
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  bool owned = GetWindow(box, GW_OWNER) == Watched[0];
  SeenBoxes.append(caption).append("|").append(text).append("|").append(Enabled());
  SeenBoxes.append(owned ? "|front\n" : "|?\n");
  PostMessageA(box, WM_COMMAND, BoxAnswer, 0);
}

// Every 50 ms: answers an open message box, or a file dialog once it is
// filled in (its type list has entries); cancels any dialog still open after
// three seconds.
void CALLBACK DriveDialogs(HWND, UINT, UINT_PTR, DWORD) {
  static HWND seen;
  static int ticks;
  HWND dialog = FindWindowA("#32770", nullptr);
  ticks = dialog != nullptr && dialog == seen ? ticks + 1 : 0;
  seen = dialog;
  HWND types = GetDlgItem(dialog, cmb1);
  if (ticks > 60) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  } else if (dialog != nullptr && dialog != LastDialog &&
             (types == nullptr || SendMessageA(types, CB_GETCOUNT, 0, 0) > 0)) {
    LastDialog = dialog;
    types == nullptr ? AnswerBox(dialog) : AnswerFileDialog(dialog);
  }
}

// Waits for an event (ten seconds at most) and handles messages meanwhile:
// EnableWindow on another thread's window waits for that thread.
void WaitPumping(HANDLE event) {
  while (MsgWaitForMultipleObjects(1, &event, FALSE, 10000, QS_ALLINPUT) ==
         WAIT_OBJECT_0 + 1)
    Pump();
}

class RequestersTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    InitRequesters();
    timer = SetTimer(nullptr, 0, 50, DriveDialogs);
  }
  void TearDown() override {
    KillTimer(nullptr, timer);
    GuiTest::TearDown();
  }
  UINT_PTR timer = 0;
};

TEST_F(RequestersTest, DialogsOpenAtTheDefaultPathAndGiveTheAnswer) {
  const TempFolder temp("pb_requesters");
  const std::string& folder = temp.root;
  // Without a folder of its own the dialog opens where the platform likes
  // (the current or the last used folder).
  struct {
    std::string defaultPath, folder, fileName;
  } cases[] = {
      {"", "", ""},
      {"patch.exe", "", "patch.exe"},
      {folder + "\\game.exe", folder, "game.exe"},
      {folder + "\\", folder, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.defaultPath);
    char* cursor = ScratchCursor;
    FileAnswer = nullptr;
    EXPECT_STREQ(ChooseOpenFile("Pick", c.defaultPath.c_str(), EXE_FILTER, 0), "");
    EXPECT_EQ(ScratchCursor, cursor);
    EXPECT_TRUE(c.folder.empty() || lstrcmpiA(SeenFolder.c_str(), c.folder.c_str()) == 0)
        << SeenFolder;
    EXPECT_EQ(SeenDialog, c.fileName + "|Executable files(*.exe)|0");
  }
  const std::string chosen = temp.Path("a.exe");
  char* start = ScratchCursor;
  FileAnswer = chosen.c_str();
  EXPECT_EQ(ChooseSaveFile("Save", "patch.exe", "Text(*.txt)|*.txt|Programs|*.exe", 1),
            chosen);
  EXPECT_EQ(SeenDialog, "patch.exe|Text(*.txt)|Programs|1");
  EXPECT_EQ(ScratchCursor, start + chosen.size());
}

TEST_F(RequestersTest, BoxesDisableOnlyThisThreadsOtherVisibleEnabledWindows) {
  for (int32_t n : {1, 2, 3, 0})  // front last: it becomes the foreground
    Watched[n] = Hwnd(OpenAppWindow(n, 10, 10, 200, 100, n == 3 ? WF_INVISIBLE : 0, "w"));
  EnableWindow(Watched[2], FALSE);
  SetForegroundWindow(Watched[0]);
  // Another thread guards its own window meanwhile, and keeps it disabled.
  HANDLE guarded = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::string afterOff;
  std::thread neighbour([&] {
    Watched[4] = CreateWindowExA(0, "STATIC", "foreign", WS_OVERLAPPEDWINDOW, 0, 0, 99,
                                 99, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(Watched[4], SW_SHOWNOACTIVATE);
    ModalGuard(1);
    SetEvent(guarded);
    WaitPumping(release);
    ModalGuard(0);
    afterOff = Enabled();  // while the thread and its window live
    SetEvent(guarded);
  });
  WaitPumping(guarded);
  ModalGuard(1);
  EXPECT_EQ(Enabled(), "10010");
  ModalGuard(0);
  EXPECT_EQ(Enabled(), "11010");

  SeenBoxes.clear();
  BoxAnswer = IDNO;
  EXPECT_EQ(MessageBoxTyped("Error!", "Go on?", MB_TYPE_YES_NO), ANSWER_NO);
  BoxAnswer = IDOK;
  EXPECT_EQ(MessageBoxOk("Done!", "Process done"), ANSWER_OK);
  // The box itself disables its owner.
  EXPECT_EQ(SeenBoxes, "Error!|Go on?|00010|front\nDone!|Process done|00010|front\n");
  EXPECT_EQ(Enabled(), "11010");  // the other thread's window stays disabled

  SetEvent(release);
  WaitPumping(guarded);
  neighbour.join();
  EXPECT_EQ(afterOff, "11011");
  CloseHandle(guarded);
  CloseHandle(release);
}

}  // namespace
}  // namespace gui_test
