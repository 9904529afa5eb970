// File dialogs and message boxes, driven on the test thread: message boxes
// through a CBT hook, file dialogs through a thread timer that reads the open
// dialog and answers it (always cancelling within a few seconds).
#include "gui/requesters.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gui/requesters_internal.h"
#include "rt/heaps.h"
#include "rt/strings.h"

// These need <windows.h> first.
#include <commdlg.h>
#include <dlgs.h>

namespace {

constexpr char EXE_FILTER[] = "Executable files(*.exe)|*.exe";

class RequestersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateHeaps());
    ASSERT_NE(InitScratchBuffer(), nullptr);
    InitRequesters();
  }
};

HWND MakeWindow(const char* title, bool visible) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "RequestersTestWindow";
  RegisterClassA(&windowClass);  // fails harmlessly once registered
  HWND window =
      CreateWindowExA(0, "RequestersTestWindow", title, WS_OVERLAPPEDWINDOW, 10, 10, 200,
                      100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (visible)
    ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

std::string TempFolder(const char* name) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string folder = std::string(base) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

void Touch(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(file);
}

// ---- file dialogs ----

struct DialogSeen {
  std::string folder, fileName;
  std::vector<std::string> types;
  int selectedType = -1;
  bool timedOut = false;
};

struct DialogDriver {
  DialogSeen seen;
  const char* answer = nullptr;  // typed into the name box before OK; null: Cancel
  int ticks = 0;
  bool done = false;
} Driver;
UINT_PTR CancelTimer;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  char className[16] = "";
  GetClassNameA(window, className, sizeof className);
  if (std::string(className) != "#32770" || !IsWindowVisible(window))
    return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND OpenDialog() {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  return dialog;
}

void ReadDialog(HWND dialog, DialogSeen* seen) {
  char text[MAX_PATH] = "";
  SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof text, reinterpret_cast<LPARAM>(text));
  seen->folder = text;
  text[0] = '\0';
  SendMessageA(dialog, CDM_GETSPEC, sizeof text, reinterpret_cast<LPARAM>(text));
  seen->fileName = text;
  HWND types = GetDlgItem(dialog, cmb1);
  int count = static_cast<int>(SendMessageA(types, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; i++) {
    SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    seen->types.push_back(text);
  }
  seen->selectedType = static_cast<int>(SendMessageA(types, CB_GETCURSEL, 0, 0));
}

void CALLBACK CancelLeftDialog(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND left = OpenDialog())
    PostMessageA(left, WM_COMMAND, IDCANCEL, 0);
}

// Waits for the dialog to be filled in (its type list has entries), reads
// it, answers it and keeps cancelling should it refuse the answer.
void CALLBACK DialogTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (Driver.done)
    return;
  HWND dialog = OpenDialog();
  bool ready =
      dialog != nullptr && SendDlgItemMessageA(dialog, cmb1, CB_GETCOUNT, 0, 0) > 0;
  if (!ready) {
    if (++Driver.ticks > 100) {
      Driver.seen.timedOut = true;
      Driver.done = true;
      CancelTimer = SetTimer(nullptr, 0, 1000, CancelLeftDialog);
    }
    return;
  }
  Driver.done = true;
  ReadDialog(dialog, &Driver.seen);
  if (Driver.answer != nullptr) {
    HWND nameBox =
        GetDlgItem(dialog, cmb13) ? GetDlgItem(dialog, cmb13) : GetDlgItem(dialog, edt1);
    SetWindowTextA(nameBox, Driver.answer);
  }
  PostMessageA(dialog, WM_COMMAND, Driver.answer ? IDOK : IDCANCEL, 0);
  CancelTimer = SetTimer(nullptr, 0, 3000, CancelLeftDialog);
}

// Runs one dialog with the driver answering; returns its result.
std::string RunDialog(const std::function<char*()>& open, const char* answer,
                      DialogSeen* seen) {
  Driver = DialogDriver{};
  Driver.answer = answer;
  CancelTimer = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, DialogTimer);
  std::string result = open();
  KillTimer(nullptr, timer);
  KillTimer(nullptr, CancelTimer);
  *seen = Driver.seen;
  return result;
}

TEST_F(RequestersTest, DefaultPathGivesInitialFolderAndName) {
  std::string folder = TempFolder("pb_requesters");
  // Without a folder of its own the dialog opens where the platform likes
  // (the current or the last used folder).
  struct Case {
    std::string defaultPath, folder, fileName;
  } cases[] = {
      {"", "", ""},
      {"patch.exe", "", "patch.exe"},
      {folder + "\\game.exe", folder, "game.exe"},
      {folder + "\\", folder, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.defaultPath);
    char* cursor = ScratchCursor;
    DialogSeen seen;
    std::string result = RunDialog(
        [&] { return ChooseOpenFile("Pick", c.defaultPath.c_str(), EXE_FILTER, 0); },
        nullptr, &seen);
    ASSERT_FALSE(seen.timedOut);
    EXPECT_EQ(result, "");
    EXPECT_EQ(ScratchCursor, cursor);
    if (!c.folder.empty()) {
      EXPECT_EQ(0, lstrcmpiA(seen.folder.c_str(), c.folder.c_str())) << seen.folder;
    }
    EXPECT_EQ(seen.fileName, c.fileName);
    EXPECT_EQ(seen.types, std::vector<std::string>{"Executable files(*.exe)"});
    EXPECT_EQ(seen.selectedType, 0);
  }
}

TEST_F(RequestersTest, ChosenPathAndPatternIndex) {
  std::string folder = TempFolder("pb_requesters");
  std::string chosen = folder + "\\a.exe";
  DialogSeen seen;
  char* start = ScratchCursor;
  std::string result = RunDialog(
      [] {
        return ChooseSaveFile("Save", "patch.exe", "Text(*.txt)|*.txt|Programs|*.exe", 1);
      },
      chosen.c_str(), &seen);
  EXPECT_EQ(seen.types, (std::vector<std::string>{"Text(*.txt)", "Programs"}));
  EXPECT_EQ(seen.selectedType, 1);
  EXPECT_EQ(result, chosen);
  EXPECT_EQ(ScratchCursor, start + chosen.size());
  EXPECT_EQ(ChosenPatternIndex(), 1);
  ScratchCursor = start;
}

TEST_F(RequestersTest, MultiSelectGivesEveryName) {
  std::string folder = TempFolder("pb_requesters_multi");
  Touch(folder + "\\a.exe");
  Touch(folder + "\\b.exe");
  char* start = ScratchCursor;
  DialogSeen seen;
  std::string first = RunDialog(
      [&] { return ChooseOpenFileEx("Many", (folder + "\\").c_str(), EXE_FILTER, 0, 1); },
      "\"a.exe\" \"b.exe\"", &seen);
  std::vector<std::string> names{first};
  for (std::string next = NextMultiSelectName(); !next.empty();
       next = NextMultiSelectName())
    names.push_back(next);
  EXPECT_EQ(names, (std::vector<std::string>{folder + "\\a.exe", folder + "\\b.exe"}));

  std::string single = RunDialog(
      [&] { return ChooseOpenFileEx("One", (folder + "\\").c_str(), EXE_FILTER, 0, 1); },
      "a.exe", &seen);
  EXPECT_EQ(single, folder + "\\a.exe");
  EXPECT_STREQ(NextMultiSelectName(), "");
  ScratchCursor = start;
}

// ---- message boxes and the guard ----

struct BoxSeen {
  HWND window;
  std::string caption, text;
  bool otherEnabled = true;
  HWND owner = nullptr;
};
std::vector<BoxSeen> Boxes;
HWND OtherWindow;
WPARAM BoxAnswer;

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
  HWND box = reinterpret_cast<HWND>(wParam);
  char className[16] = "";
  GetClassNameA(box, className, sizeof className);
  if (code == HCBT_ACTIVATE && std::string(className) == "#32770" &&
      (Boxes.empty() || Boxes.back().window != box)) {
    char caption[100] = "", text[100] = "";
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    Boxes.push_back({box, caption, text, IsWindowEnabled(OtherWindow) != 0,
                     GetWindow(box, GW_OWNER)});
    PostMessageA(box, WM_COMMAND, BoxAnswer, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(RequestersTest, MessageBoxDisablesOtherWindowsMeanwhile) {
  HWND front = MakeWindow("front", true);
  SetForegroundWindow(front);
  OtherWindow = MakeWindow("other", true);
  HHOOK hook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
  Boxes.clear();
  BoxAnswer = IDNO;
  EXPECT_EQ(MessageBoxTyped("Error!", "Go on?", MB_TYPE_YES_NO), ANSWER_NO);
  BoxAnswer = IDOK;
  EXPECT_EQ(MessageBoxOk("Done!", "Process done"), ANSWER_OK);
  UnhookWindowsHookEx(hook);

  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0].caption, "Error!");
  EXPECT_EQ(Boxes[0].text, "Go on?");
  EXPECT_EQ(Boxes[1].caption, "Done!");
  EXPECT_EQ(Boxes[1].text, "Process done");
  for (const BoxSeen& box : Boxes) {
    EXPECT_FALSE(box.otherEnabled);
    EXPECT_EQ(box.owner, front);
  }
  EXPECT_TRUE(IsWindowEnabled(OtherWindow));
  DestroyWindow(OtherWindow);
  DestroyWindow(front);
}

TEST_F(RequestersTest, GuardTouchesOnlyThisThreadsVisibleEnabledWindows) {
  HWND front = MakeWindow("front", true);
  SetForegroundWindow(front);
  HWND other = MakeWindow("other", true);
  HWND disabled = MakeWindow("disabled", true);
  EnableWindow(disabled, FALSE);
  HWND hidden = MakeWindow("hidden", false);

  HANDLE guarded = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HWND foreign = nullptr;
  bool foreignEnabledAfterOwnOff = false;
  std::thread neighbour([&] {
    foreign = MakeWindow("foreign", true);
    ModalGuard(1);
    SetEvent(guarded);
    WaitForSingleObject(release, 10000);
    ModalGuard(0);
    foreignEnabledAfterOwnOff = IsWindowEnabled(foreign) != 0;
    DestroyWindow(foreign);
  });
  WaitForSingleObject(guarded, 10000);

  ModalGuard(1);
  EXPECT_TRUE(IsWindowEnabled(front));
  EXPECT_FALSE(IsWindowEnabled(other));
  EXPECT_TRUE(IsWindowEnabled(hidden));
  ModalGuard(0);
  EXPECT_TRUE(IsWindowEnabled(front));
  EXPECT_TRUE(IsWindowEnabled(other));
  EXPECT_FALSE(IsWindowEnabled(disabled));
  EXPECT_FALSE(IsWindowEnabled(foreign)) << "another thread's window was re-enabled";

  SetEvent(release);
  neighbour.join();
  EXPECT_TRUE(foreignEnabledAfterOwnOff);
  for (HWND window : {front, other, disabled, hidden})
    DestroyWindow(window);
  CloseHandle(guarded);
  CloseHandle(release);
}

}  // namespace
