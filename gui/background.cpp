#include "gui/background.h"

#include <windows.h>

#include <atomic>

namespace {

struct BackgroundRecord {
  HANDLE thread;      // null while no work is started
  DWORD eventThread;  // the starting thread, which WakeEventLoop wakes
  BackgroundWork work;
  void* context;
  std::atomic<bool> running;  // cleared by the work's thread when it is done
};

BackgroundRecord Background;

DWORD WINAPI RunBackgroundWork(LPVOID) {
  Background.work(Background.context);
  Background.running = false;
  WakeEventLoop();
  return 0;
}

}  // namespace

bool StartBackgroundWork(BackgroundWork work, void* context) {
  if (Background.thread != nullptr)
    return false;
  Background.eventThread = GetCurrentThreadId();
  Background.work = work;
  Background.context = context;
  Background.running = true;
  Background.thread = CreateThread(nullptr, 0, RunBackgroundWork, nullptr, 0, nullptr);
  if (Background.thread == nullptr)
    Background.running = false;
  return Background.thread != nullptr;
}

// A thread message: no window needs to exist, and a modal loop that takes
// it (a menu, a move) runs inside a WaitEvent, which returns after it.
void WakeEventLoop() {
  PostThreadMessageA(Background.eventThread, WM_NULL, 0, 0);
}

bool BackgroundWorkRunning() {
  if (Background.thread == nullptr)
    return false;
  if (Background.running)
    return true;
  // The work has returned; its thread has only its own end left.
  WaitForSingleObject(Background.thread, INFINITE);
  CloseHandle(Background.thread);
  Background.thread = nullptr;
  return false;
}
