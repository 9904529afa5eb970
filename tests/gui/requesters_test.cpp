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

// The windows whose state the guard may change: front (the foreground,
// which owns the box), other (as the form is behind another program's
// window), and one of another thread.
HWND Watched[3];

// '1' for each watched window that is enabled.
std::string Enabled() {
  std::string states;
  for (HWND window : Watched)
    states += IsWindowEnabled(window) ? '1' : '0';
  return states;
}

// What the timer read of the last file dialog and of each message box.
std::string SeenDialog, SeenBoxes;
const char* FileAnswer;  // typed into a file dialog's name box before OK; null: Cancel
WPARAM BoxAnswer;
HWND LastDialog;

void AnswerFileDialog(HWND dialog) {
  char text[MAX_PATH] = "";
  SendMessageA(dialog, CDM_GETSPEC, sizeof text, reinterpret_cast<LPARAM>(text));
  SeenDialog = text;
  HWND types = GetDlgItem(dialog, cmb1);
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

// A file dialog is answered once its type list is filled in; any dialog
// still open after three seconds is cancelled.
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

// The tool opens with no default path and saves with a default name.
TEST_F(RequestersTest, DialogsGiveTheAnswerOrTheEmptyString) {
  char* start = ScratchCursor;
  FileAnswer = nullptr;
  EXPECT_STREQ(ChooseOpenFile("Pick", "", EXE_FILTER, 0), "");
  EXPECT_EQ(ScratchCursor, start);
  EXPECT_EQ(SeenDialog, "|Executable files(*.exe)|0");
  EXPECT_EQ(ChosenPatternIndex(), -1);
  const TempFolder temp("pb_requesters");
  const std::string chosen = temp.Path("a.exe");
  FileAnswer = chosen.c_str();
  EXPECT_EQ(ChooseSaveFile("Save", "patch.exe", "Text(*.txt)|*.txt|Programs|*.exe", 1),
            chosen);
  EXPECT_EQ(SeenDialog, "patch.exe|Text(*.txt)|Programs|1");
  EXPECT_EQ(ScratchCursor, start + chosen.size());
  EXPECT_EQ(ChosenPatternIndex(), 1);
}

// Several names come one by one behind their folder; names an earlier
// dialog left are not taken from a later answer.
TEST_F(RequestersTest, MultiSelectGivesEveryName) {
  const TempFolder temp("pb_multi");
  const std::string in = temp.root + "\\";
  auto choose = [&](const char* answer, bool all) {
    FileAnswer = answer;
    std::string names =
        Taken(ChooseOpenFileEx("Many", in.c_str(), EXE_FILTER, 0, CHOOSE_MULTI_SELECT));
    for (std::string next; all && !(next = Taken(NextMultiSelectName())).empty();)
      names += "|" + next;
    return names;
  };
  EXPECT_EQ(choose("\"a.exe\" \"c.exe\" \"b.exe\"", true),
            in + "a.exe|" + in + "c.exe|" + in + "b.exe");
  EXPECT_EQ(choose("b.exe", true), in + "b.exe");
  EXPECT_EQ(choose("\"a.exe\" \"b.exe\"", false), in + "a.exe");
  FileAnswer = "a longer name.exe";
  EXPECT_EQ(Taken(ChooseOpenFile("One", in.c_str(), EXE_FILTER, 0)), in + FileAnswer);
  EXPECT_STREQ(NextMultiSelectName(), "");
}

TEST_F(RequestersTest, BoxesDisableOnlyThisThreadsWindows) {
  for (int32_t n : {1, 0})  // front last: it becomes the foreground
    Watched[n] = Hwnd(OpenAppWindow(n, 10, 10, 200, 100, 0, "w"));
  SetForegroundWindow(Watched[0]);
  HANDLE created = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread neighbour([&] {
    Watched[2] = CreateWindowExA(0, "STATIC", "foreign", WS_OVERLAPPEDWINDOW, 0, 0, 99,
                                 99, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(Watched[2], SW_SHOWNOACTIVATE);
    SetEvent(created);
    WaitPumping(release);
    DestroyWindow(Watched[2]);
  });
  WaitPumping(created);
  ModalGuard(1);
  EXPECT_EQ(Enabled(), "101");
  ModalGuard(0);
  EXPECT_EQ(Enabled(), "111");

  SeenBoxes.clear();
  BoxAnswer = IDNO;
  EXPECT_EQ(MessageBoxTyped("Error!", "Go on?", MB_TYPE_YES_NO), ANSWER_NO);
  BoxAnswer = IDOK;
  EXPECT_EQ(MessageBoxOk("Done!", "Process done"), ANSWER_OK);
  // The box itself disables its owner.
  EXPECT_EQ(SeenBoxes, "Error!|Go on?|001|front\nDone!|Process done|001|front\n");
  EXPECT_EQ(Enabled(), "111");
  SetEvent(release);
  neighbour.join();
  CloseHandle(created);
  CloseHandle(release);
}

}  // namespace
}  // namespace gui_test
