// Looks at the running tool from outside, for the end-to-end test: what a
// user reads on the screen but X cannot tell. Every wait is bounded.
//   box [SKIP [MS]]  waits (15 s or MS) for a dialog other than SKIP that has
//                    the focus; prints "handle<TAB>caption<TAB>text"
//   gone HANDLE      waits until that dialog is no longer visible
//   origin           prints the main form's client origin and size, then its
//                    outer left, top and right on the screen
//   texts            prints "number<TAB>text" for the form's 28 controls; the
//                    progress bar's text is its position
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// This needs <windows.h> first.
#include <commctrl.h>

namespace {

constexpr int CONTROL_COUNT = 28;
constexpr int PROGRESS_ID = 22;
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

int Origin(HWND form) {
  POINT origin{0, 0};
  ClientToScreen(form, &origin);
  RECT client, outer;
  GetClientRect(form, &client);
  GetWindowRect(form, &outer);
  std::printf("%ld %ld %ld %ld %ld %ld %ld\n", origin.x, origin.y, client.right,
              client.bottom, outer.left, outer.top, outer.right);
  return 0;
}

int Texts(HWND form) {
  for (int id = 0; id < CONTROL_COUNT; id++) {
    if (id == PROGRESS_ID)
      std::printf("%d\t%ld\n", id,
                  static_cast<long>(SendDlgItemMessageA(form, id, PBM_GETPOS, 0, 0)));
    else
      std::printf("%d\t%s\n", id, TextOf(GetDlgItem(form, id)).c_str());
  }
  return 0;
}

HWND Handle(const char* number) {
  return reinterpret_cast<HWND>(std::strtoul(number, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (argc > 3)
    WaitMs = std::strtoul(argv[3], nullptr, 10);
  if (command == "box")
    return Box(argc > 2 ? Handle(argv[2]) : nullptr);
  if (command == "gone" && argc > 2)
    return WaitFor([&] { return !IsWindowVisible(Handle(argv[2])); }) ? 0 : 1;
  HWND form = nullptr;
  if (!WaitFor(
          [&] { return (form = FindWindowA(nullptr, "Velloran patch creation tool")); }))
    return 1;
  if (command == "origin")
    return Origin(form);
  if (command == "texts")
    return Texts(form);
  std::fprintf(stderr, "usage: probe box [SKIP [MS]] | gone HANDLE | origin | texts\n");
  return 2;
}
