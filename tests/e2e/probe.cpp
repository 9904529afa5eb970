// Reads for the end-to-end test what X cannot tell; every wait is bounded.
//   box [SKIP [MS]]  waits (15 s or MS) for a focused dialog other than SKIP;
//                    prints "handle<TAB>caption<TAB>text"
//   gone HANDLE      waits until that dialog is no longer visible
//   origin           prints the form's client x y width height, its window's
//                    left top right bottom, and the screen's width height
//   close            closes the form as its close box does
//   busy             waits (60 s) for the form to grey "Generate patch", asks it
//                    for an answer (3 s) and closes it as its close box does;
//                    prints "answered" or "not answering", then for each line
//                    read from standard input "busy" or "idle"
//   texts (default)  prints "number<TAB>text" for the 28 controls (progress: position)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// This needs <windows.h> first.
#include <commctrl.h>

namespace {

constexpr char MAIN_TITLE[] = "Velloran patch creation tool";
constexpr int CONTROL_COUNT = 28;
constexpr int PROGRESS_ID = 22;
constexpr int GENERATE_ID = 21;
constexpr DWORD ANSWER_WAIT_MS = 3000;
constexpr DWORD DEFAULT_WAIT_MS = 15000;
DWORD WaitMs = DEFAULT_WAIT_MS;

template <typename Ready>
bool WaitFor(Ready ready) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < WaitMs; Sleep(50)) {
    if (ready())
      return true;
  }
  return false;
}

HWND VisibleDialog(HWND skip) {
  for (HWND window = nullptr;
       (window = FindWindowExA(nullptr, window, "#32770", nullptr));) {
    if (window != skip && IsWindowVisible(window))
      return window;
  }
  return nullptr;
}

// WM_GETTEXT rather than GetWindowTextA, which does not ask a window of
// another process for its text.
std::string TextOf(HWND window) {
  static char text[33000];
  text[0] = '\0';
  DWORD_PTR length = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, DEFAULT_WAIT_MS, &length);
  return text;
}

// A dialog is ready for keys once it is the foreground window: then Wine
// has given it the X input focus too.
int Box(HWND skip) {
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = VisibleDialog(skip)) != nullptr; }) ||
      !WaitFor([&] { return GetForegroundWindow() == box; }))
    return 1;
  std::printf("%lu\t%s\t%s\n",
              static_cast<unsigned long>(reinterpret_cast<uintptr_t>(box)),
              TextOf(box).c_str(), TextOf(GetDlgItem(box, 0xFFFF)).c_str());
  return 0;
}

// While the form makes a patch: does it answer, and does it stay open when
// closed? The test clicks meanwhile and asks whether the form is still busy.
int Busy(HWND form) {
  HWND generate = GetDlgItem(form, GENERATE_ID);
  WaitMs = 60000;
  if (!WaitFor([&] { return !IsWindowEnabled(generate); }))
    return 1;
  DWORD_PTR result = 0;
  bool answered = SendMessageTimeoutA(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                      ANSWER_WAIT_MS, &result) != 0;
  PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
  std::printf("%s\n", answered ? "answered" : "not answering");
  std::fflush(stdout);
  for (char line[16]; std::fgets(line, sizeof line, stdin) != nullptr;
       std::fflush(stdout))
    std::printf("%s\n", IsWindowEnabled(generate) ? "idle" : "busy");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  auto given = reinterpret_cast<HWND>(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0);
  if (argc > 3)
    WaitMs = std::strtoul(argv[3], nullptr, 10);
  if (command == "box")
    return Box(given);
  if (command == "gone")
    return WaitFor([&] { return !IsWindowVisible(given); }) ? 0 : 1;
  HWND form = nullptr;
  if (!WaitFor([&] { return (form = FindWindowA(nullptr, MAIN_TITLE)) != nullptr; }))
    return 1;
  if (command == "close")
    return !PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (command == "busy")
    return Busy(form);
  if (command == "origin") {
    POINT origin{0, 0};
    ClientToScreen(form, &origin);
    RECT client, frame;
    GetClientRect(form, &client);
    GetWindowRect(form, &frame);
    std::printf("%ld %ld %ld %ld %ld %ld %ld %ld %d %d\n", origin.x, origin.y,
                client.right, client.bottom, frame.left, frame.top, frame.right,
                frame.bottom, GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN));
    return 0;
  }
  for (int id = 0; id < CONTROL_COUNT; id++) {
    std::string text =
        id == PROGRESS_ID
            ? std::to_string(SendDlgItemMessageA(form, id, PBM_GETPOS, 0, 0))
            : TextOf(GetDlgItem(form, id));
    std::printf("%d\t%s\n", id, text.c_str());
  }
  return 0;
}
