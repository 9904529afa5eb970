// Without a window manager Wine waits about two seconds for every managed
// window that hides or closes. Wine decides whether to manage a program's
// windows once, while the program's libraries load, so before any test runs
// the program chooses unmanaged windows for itself (a setting keyed by its
// file name) and runs again as its own child; the first run takes the choice
// back when the child is done. Where the choice is already made, the tests
// run at once.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

const int Unmanaged = [] {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string appKey = std::string("Software\\Wine\\AppDefaults\\") +
                       (std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path);
  std::string driverKey = appKey + "\\X11 Driver";
  if (RegGetValueA(HKEY_CURRENT_USER, driverKey.c_str(), "Managed", RRF_RT_REG_SZ,
                   nullptr, nullptr, nullptr) == ERROR_SUCCESS ||
      RegSetKeyValueA(HKEY_CURRENT_USER, driverKey.c_str(), "Managed", REG_SZ, "N", 2) !=
          ERROR_SUCCESS)
    return 0;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  DWORD code = 1;
  bool ran = CreateProcessA(path, GetCommandLineA(), nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &child);
  if (ran) {
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &code);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, appKey.c_str());
  if (ran)
    ExitProcess(code);
  return 0;
}();

}  // namespace
