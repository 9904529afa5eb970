// The stub's one window: the patch's texts, the folder field with its browse
// button, a progress bar and the install and exit buttons. An install runs
// on this thread; while it runs the controls are disabled and the window
// cannot be closed, and the progress report keeps the window painted.
#include <windows.h>

#include "stub/stub.h"

// These need <windows.h> first.
#include <commctrl.h>
#include <shlobj.h>

namespace {

enum ControlId {
  CTL_PROGRAM_TITLE = 100,
  CTL_DESCRIPTION,
  CTL_NOTICE,
  CTL_FOLDER_TIP,
  CTL_FOLDER,
  CTL_BROWSE,
  CTL_PROGRESS,
  CTL_INSTALL,
  CTL_EXIT,
};

constexpr int CLIENT_WIDTH = 440;
constexpr int CLIENT_HEIGHT = 300;
constexpr int NO_TEXT = -1;
constexpr char CLASS_NAME[] = "PatchStubWindow";

struct ControlSpec {
  int id;
  const char* className;
  DWORD style;
  int x, y, width, height;
  int line;  // PayloadLine of its text, or NO_TEXT
};

constexpr DWORD TAB_STOP = WS_TABSTOP;
constexpr ControlSpec CONTROLS[] = {
    {CTL_PROGRAM_TITLE, "STATIC", SS_LEFT | SS_NOPREFIX, 15, 12, 410, 20,
     LINE_PROGRAM_TITLE},
    {CTL_DESCRIPTION, "STATIC", SS_LEFT | SS_NOPREFIX, 15, 40, 410, 58,
     LINE_PROGRAM_DESCRIPTION},
    {CTL_NOTICE, "STATIC", SS_LEFT | SS_NOPREFIX, 15, 104, 410, 44, LINE_SYSTEM_NOTICE},
    {CTL_FOLDER_TIP, "STATIC", SS_LEFT | SS_NOPREFIX, 15, 154, 410, 32, LINE_FOLDER_TIP},
    {CTL_FOLDER, "EDIT", ES_AUTOHSCROLL | WS_BORDER | TAB_STOP, 15, 192, 320, 22,
     LINE_DEFAULT_FOLDER},
    {CTL_BROWSE, "BUTTON", BS_PUSHBUTTON | TAB_STOP, 345, 191, 80, 24, LINE_OPEN_BUTTON},
    {CTL_PROGRESS, PROGRESS_CLASSA, 0, 15, 228, 410, 16, NO_TEXT},
    {CTL_INSTALL, "BUTTON", BS_DEFPUSHBUTTON | TAB_STOP, 235, 258, 90, 28,
     LINE_INSTALL_BUTTON},
    {CTL_EXIT, "BUTTON", BS_PUSHBUTTON | TAB_STOP, 335, 258, 90, 28, LINE_EXIT_BUTTON},
};

HWND MainWindow;
HFONT TitleFont;
bool Busy;

HWND Control(int id) {
  return GetDlgItem(MainWindow, id);
}

// The title in a bold variant of the controls' font.
HFONT MakeTitleFont(HFONT base) {
  LOGFONTA font;
  if (GetObjectA(base, sizeof font, &font) == 0)
    return nullptr;
  font.lfWeight = FW_BOLD;
  return CreateFontIndirectA(&font);
}

void CreateControls(HWND window) {
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  TitleFont = MakeTitleFont(font);
  for (const ControlSpec& c : CONTROLS) {
    const char* text = c.line == NO_TEXT ? "" : ThePatch.line[c.line];
    HWND control =
        CreateWindowExA(c.id == CTL_FOLDER ? WS_EX_CLIENTEDGE : 0, c.className, text,
                        WS_CHILD | WS_VISIBLE | c.style, c.x, c.y, c.width, c.height,
                        window, reinterpret_cast<HMENU>(c.id), nullptr, nullptr);
    bool title = c.id == CTL_PROGRAM_TITLE && TitleFont != nullptr;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(title ? TitleFont : font),
                 FALSE);
  }
  SendMessageA(Control(CTL_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED)
    SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, folder);
  return 0;
}

void BrowseFolder() {
  char folder[MAX_PATH];
  GetDlgItemTextA(MainWindow, CTL_FOLDER, folder, MAX_PATH);
  BROWSEINFOA info = {};
  info.hwndOwner = MainWindow;
  info.lpszTitle = ThePatch.line[LINE_FOLDER_TIP];
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(folder);
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (chosen == nullptr)
    return;
  if (SHGetPathFromIDListA(chosen, folder))
    SetDlgItemTextA(MainWindow, CTL_FOLDER, folder);
  CoTaskMemFree(chosen);
}

void EnableControls(bool enable) {
  static constexpr int ids[] = {CTL_FOLDER, CTL_BROWSE, CTL_INSTALL, CTL_EXIT};
  for (int id : ids)
    EnableWindow(Control(id), enable);
}

// Moves the bar and lets the window repaint while the install goes on.
void ShowProgress(int32_t percent) {
  SendMessageA(Control(CTL_PROGRESS), PBM_SETPOS, percent, 0);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void Install() {
  char folder[MAX_PATH];
  GetDlgItemTextA(MainWindow, CTL_FOLDER, folder, MAX_PATH);
  Busy = true;
  EnableControls(false);
  ShowProgress(0);
  StubResult result = InstallPatch(folder, ShowProgress);
  bool fine = result == STUB_DONE || result == STUB_ALREADY_PATCHED;
  if (!fine)
    ShowProgress(0);
  MessageBoxA(MainWindow, ResultMessage(result), ThePatch.line[LINE_WINDOW_TITLE],
              fine ? MB_ICONINFORMATION : MB_ICONERROR);
  EnableControls(true);
  Busy = false;
}

LRESULT CALLBACK StubWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      // The dialog keys still arrive while an install runs.
      if (Busy)
        return 0;
      if (LOWORD(wParam) == CTL_BROWSE)
        BrowseFolder();
      else if (LOWORD(wParam) == CTL_INSTALL || LOWORD(wParam) == IDOK)
        Install();
      else if (LOWORD(wParam) == CTL_EXIT || LOWORD(wParam) == IDCANCEL)
        PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      if (!Busy)
        DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool OpenMainWindow() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = StubWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hIcon = LoadIconA(windowClass.hInstance, MAKEINTRESOURCEA(1));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = CLASS_NAME;
  if (RegisterClassA(&windowClass) == 0)
    return false;
  constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame{};  // set field by field: an initializer list would cost a data section
  frame.right = CLIENT_WIDTH;
  frame.bottom = CLIENT_HEIGHT;
  AdjustWindowRect(&frame, style, FALSE);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  MainWindow = CreateWindowExA(0, CLASS_NAME, ThePatch.line[LINE_WINDOW_TITLE], style,
                               (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width,
                               height, nullptr, nullptr, windowClass.hInstance, nullptr);
  return MainWindow != nullptr;
}

}  // namespace

int RunStubWindow(const char* folder) {
  InitCommonControls();
  if (!OpenMainWindow())
    return STUB_NO_WINDOW;
  CreateControls(MainWindow);
  if (folder != nullptr)
    SetDlgItemTextA(MainWindow, CTL_FOLDER, folder);
  ShowWindow(MainWindow, SW_SHOWNORMAL);
  SetFocus(Control(CTL_INSTALL));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(MainWindow, &message))
      continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (TitleFont != nullptr)
    DeleteObject(TitleFont);
  return STUB_DONE;
}
