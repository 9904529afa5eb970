// File dialogs and message boxes, driven on the test thread: message boxes
// through a CBT hook, file dialogs through a thread timer that reads the open
// dialog and answers it.
#include "gui/requesters.h"

#include <string>
#include <thread>

#include "gui/requesters_internal.h"
#include "tests/gui/gui_runtime.h"

// These need <windows.h> first.
#include <commdlg.h>
#include <dlgs.h>

namespace {

using gui_test::Hwnd;

constexpr char EXE_FILTER[] = "Executable files(*.exe)|*.exe";

struct DialogDriver {
  const char* answer;  // typed into the name box before OK; null: Cancel
  int ticks;
  bool answered;
  std::string folder, fileName;
  std::vector<std::string> types;
  int selectedType;
} Driver;

void ReadDialog(HWND dialog) {
  char text[MAX_PATH] = "";
  SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof text, reinterpret_cast<LPARAM>(text));
  Driver.folder = text;
  text[0] = '\0';
  SendMessageA(dialog, CDM_GETSPEC, sizeof text, reinterpret_cast<LPARAM>(text));
  Driver.fileName = text;
  HWND types = GetDlgItem(dialog, cmb1);
  for (int i = 0; i < SendMessageA(types, CB_GETCOUNT, 0, 0); i++) {
    SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    Driver.types.push_back(text);
  }
  Driver.selectedType = static_cast<int>(SendMessageA(types, CB_GETCURSEL, 0, 0));
}

// Answers the dialog once it is filled in (its type list has entries), and
// cancels whatever dialog is left after three seconds.
void CALLBACK DriveDialog(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = FindWindowA("#32770", nullptr);
  if (dialog == nullptr)
    return;
  if (++Driver.ticks > 60) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  if (Driver.answered || SendDlgItemMessageA(dialog, cmb1, CB_GETCOUNT, 0, 0) <= 0)
    return;
  Driver.answered = true;
  ReadDialog(dialog);
  if (Driver.answer != nullptr) {
    HWND nameBox =
        GetDlgItem(dialog, cmb13) ? GetDlgItem(dialog, cmb13) : GetDlgItem(dialog, edt1);
    SetWindowTextA(nameBox, Driver.answer);
  }
  PostMessageA(dialog, WM_COMMAND, Driver.answer ? IDOK : IDCANCEL, 0);
}

class RequestersTest : public gui_test::GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    InitRequesters();
    timer = SetTimer(nullptr, 0, 50, DriveDialog);
  }
  void TearDown() override {
    KillTimer(nullptr, timer);
    GuiTest::TearDown();
  }
  // The driver answers the next dialog with `answer`.
  static void Answer(const char* answer) {
    Driver = DialogDriver{answer, 0, false, {}, {}, {}, -1};
  }
  UINT_PTR timer = 0;
};

std::string TempFolder(const char* name) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string folder = std::string(base) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

TEST_F(RequestersTest, DefaultPathGivesInitialFolderAndName) {
  std::string folder = TempFolder("pb_requesters");
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
    Answer(nullptr);
    EXPECT_STREQ(ChooseOpenFile("Pick", c.defaultPath.c_str(), EXE_FILTER, 0), "");
    ASSERT_TRUE(Driver.answered);
    EXPECT_EQ(ScratchCursor, cursor);
    if (!c.folder.empty()) {
      EXPECT_EQ(lstrcmpiA(Driver.folder.c_str(), c.folder.c_str()), 0) << Driver.folder;
    }
    EXPECT_EQ(Driver.fileName, c.fileName);
    EXPECT_EQ(Driver.types, std::vector<std::string>{"Executable files(*.exe)"});
    EXPECT_EQ(Driver.selectedType, 0);
  }
}

TEST_F(RequestersTest, ChosenPathAndPatternIndex) {
  std::string chosen = TempFolder("pb_requesters") + "\\a.exe";
  char* start = ScratchCursor;
  Answer(chosen.c_str());
  EXPECT_EQ(ChooseSaveFile("Save", "patch.exe", "Text(*.txt)|*.txt|Programs|*.exe", 1),
            chosen);
  EXPECT_EQ(Driver.types, (std::vector<std::string>{"Text(*.txt)", "Programs"}));
  EXPECT_EQ(Driver.selectedType, 1);
  EXPECT_EQ(ScratchCursor, start + chosen.size());
  EXPECT_EQ(ChosenPatternIndex(), 1);
}

TEST_F(RequestersTest, MultiSelectGivesEveryName) {
  std::string folder = TempFolder("pb_requesters_multi");
  for (const char* name : {"\\a.exe", "\\b.exe"})
    CloseHandle(CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr));
  Answer("\"a.exe\" \"b.exe\"");
  std::vector<std::string> names{
      ChooseOpenFileEx("Many", (folder + "\\").c_str(), EXE_FILTER, 0, 1)};
  for (std::string next = NextMultiSelectName(); !next.empty();
       next = NextMultiSelectName())
    names.push_back(next);
  EXPECT_EQ(names, (std::vector<std::string>{folder + "\\a.exe", folder + "\\b.exe"}));
  Answer("a.exe");
  EXPECT_EQ(ChooseOpenFileEx("One", (folder + "\\").c_str(), EXE_FILTER, 0, 1),
            folder + "\\a.exe");
  EXPECT_STREQ(NextMultiSelectName(), "");
}

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

// Per box: caption|text|the watched windows' states|whether front owns it.
std::string BoxesSeen;
HWND LastBox;
WPARAM BoxAnswer;

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
  auto box = reinterpret_cast<HWND>(wParam);
  char name[16] = "";
  GetClassNameA(box, name, sizeof name);
  if (code == HCBT_ACTIVATE && std::string(name) == "#32770" && box != LastBox) {
    LastBox = box;
    char caption[100] = "", text[100] = "";
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    bool owned = GetWindow(box, GW_OWNER) == Watched[0];
    BoxesSeen += std::string(caption) + "|" + text + "|" + Enabled() +
                 (owned ? "|front\n" : "|?\n");
    PostMessageA(box, WM_COMMAND, BoxAnswer, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(RequestersTest, BoxesDisableOnlyThisThreadsOtherVisibleEnabledWindows) {
  for (int32_t n : {1, 2, 3, 0})  // front last: it becomes the foreground
    Watched[n] = Hwnd(OpenAppWindow(n, 10, 10, 200, 100, n == 3 ? WF_INVISIBLE : 0, "w"));
  EnableWindow(Watched[2], FALSE);
  SetForegroundWindow(Watched[0]);
  // Another thread guards its own window meanwhile, and keeps it disabled.
  HANDLE guarded = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread neighbour([&] {
    Watched[4] = CreateWindowExA(0, "STATIC", "foreign", WS_OVERLAPPEDWINDOW, 0, 0, 99,
                                 99, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(Watched[4], SW_SHOWNOACTIVATE);
    ModalGuard(1);
    SetEvent(guarded);
    while (MsgWaitForMultipleObjects(1, &release, FALSE, 10000, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1)
      gui_test::Pump();
    ModalGuard(0);
    SetEvent(guarded);
    gui_test::Pump();
  });
  WaitForSingleObject(guarded, 10000);
  ModalGuard(1);
  EXPECT_EQ(Enabled(), "10010");
  ModalGuard(0);
  EXPECT_EQ(Enabled(), "11010");

  HHOOK hook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
  BoxesSeen.clear();
  BoxAnswer = IDNO;
  EXPECT_EQ(MessageBoxTyped("Error!", "Go on?", MB_TYPE_YES_NO), ANSWER_NO);
  BoxAnswer = IDOK;
  EXPECT_EQ(MessageBoxOk("Done!", "Process done"), ANSWER_OK);
  UnhookWindowsHookEx(hook);
  // The box itself disables its owner.
  EXPECT_EQ(BoxesSeen, "Error!|Go on?|00010|front\nDone!|Process done|00010|front\n");
  EXPECT_EQ(Enabled(), "11010");  // the other thread's window stays disabled

  SetEvent(release);
  WaitForSingleObject(guarded, 10000);
  EXPECT_EQ(Enabled(), "11011");
  neighbour.join();
  CloseHandle(guarded);
  CloseHandle(release);
}

}  // namespace
