// Looks at the running tool from outside, for the end-to-end test: what a
// user reads on the screen but X cannot tell (message box texts, field
// texts, the progress bar). Every wait is bounded. Commands:
//   box [SKIP [MS]]  waits (15 s or MS) for a visible dialog other than
//               SKIP; prints "handle<TAB>caption<TAB>text"
//   gone HANDLE waits until that dialog is no longer visible
//   origin      prints the screen position of the main form's client area
//   texts       prints "number<TAB>text" for the form's 28 controls
//   progress    prints the progress bar's position
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// This needs <windows.h> first.
#include <commctrl.h>

namespace {

constexpr char MAIN_TITLE[] = "Velloran patch creation tool";
constexpr int CONTROL_COUNT = 28;
constexpr int PROGRESS_ID = 22;
constexpr DWORD DEFAULT_WAIT_MS = 15000;
DWORD WaitMs = DEFAULT_WAIT_MS;
constexpr DWORD POLL_MS = 50;

struct Search {
  HWND skip;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  char className[16] = "";
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window) ||
      window == search->skip)
    return TRUE;
  search->found = window;
  return FALSE;
}

HWND VisibleDialog(HWND skip) {
  Search search{skip, nullptr};
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <typename Ready>
bool WaitFor(Ready ready) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < WaitMs; Sleep(POLL_MS)) {
    if (ready())
      return true;
  }
  return false;
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

HWND MainForm() {
  HWND form = nullptr;
  WaitFor([&] { return (form = FindWindowA(nullptr, MAIN_TITLE)) != nullptr; });
  return form;
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

int Origin() {
  HWND form = MainForm();
  if (form == nullptr)
    return 1;
  POINT origin{0, 0};
  ClientToScreen(form, &origin);
  RECT client;
  GetClientRect(form, &client);
  std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
  return 0;
}

int Texts() {
  HWND form = MainForm();
  if (form == nullptr)
    return 1;
  for (int id = 0; id < CONTROL_COUNT; id++)
    std::printf("%d\t%s\n", id, TextOf(GetDlgItem(form, id)).c_str());
  return 0;
}

int Progress() {
  HWND form = MainForm();
  if (form == nullptr)
    return 1;
  std::printf("%ld\n", static_cast<long>(
                           SendDlgItemMessageA(form, PROGRESS_ID, PBM_GETPOS, 0, 0)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (argc > 3)
    WaitMs = std::strtoul(argv[3], nullptr, 10);
  if (command == "box")
    return Box(argc > 2 ? reinterpret_cast<HWND>(std::strtoul(argv[2], nullptr, 10))
                        : nullptr);
  if (command == "gone" && argc > 2) {
    auto box = reinterpret_cast<HWND>(std::strtoul(argv[2], nullptr, 10));
    return WaitFor([&] { return !IsWindowVisible(box); }) ? 0 : 1;
  }
  if (command == "origin")
    return Origin();
  if (command == "texts")
    return Texts();
  if (command == "progress")
    return Progress();
  std::fprintf(
      stderr, "usage: probe box [SKIP [MS]] | gone HANDLE | origin | texts | progress\n");
  return 2;
}
