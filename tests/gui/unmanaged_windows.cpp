// Without a window manager Wine waits about two seconds for every managed
// window that hides or closes. Wine decides whether to manage a program's
// windows once, while the program's libraries load, so before any test runs
// the program chooses unmanaged windows for itself and runs again as its own
// child; the first run takes the choice back when the child is done.
#include <windows.h>

#include <string>

namespace {

// -1: run the tests in this process; otherwise the child's exit code.
int RunAsUnmanagedChild() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  const char* name = path;  // Wine keys the choice by the program's file name
  for (const char* c = path; *c != '\0'; c++) {
    if (*c == '\\')
      name = c + 1;
  }
  std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + name;
  std::string driverKey = appKey + "\\X11 Driver";
  // Set already: this is the child, or someone chose before us.
  if (RegGetValueA(HKEY_CURRENT_USER, driverKey.c_str(), "Managed", RRF_RT_REG_SZ,
                   nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    return -1;
  if (RegSetKeyValueA(HKEY_CURRENT_USER, driverKey.c_str(), "Managed", REG_SZ, "N", 2) !=
      ERROR_SUCCESS)
    return -1;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  DWORD code = static_cast<DWORD>(-1);
  if (CreateProcessA(path, GetCommandLineA(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &child)) {
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, appKey.c_str());
  return static_cast<int>(code);
}

const int ChildResult = [] {
  int code = RunAsUnmanagedChild();
  if (code != -1)
    ExitProcess(static_cast<UINT>(code));
  return code;
}();

}  // namespace
