// Process entry, start-up, the event loop and shutdown. The process starts
// in ToolEntry, which loads the system libraries before the C runtime's
// start-up code runs and calls main; the tool takes no arguments.
#include <cstdint>
#include <cstdlib>

#include "app/commands.h"
#include "app/form.h"
#include "gui/controls.h"
#include "gui/events.h"
#include "gui/libraries.h"
#include "gui/requesters.h"
#include "gui/window_table.h"
#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/strings.h"

namespace {

constexpr int EXIT_DONE = 0;
// Start-up failed: better to end at once than to wait with no window.
constexpr int EXIT_START_FAILED = 1;

[[noreturn]] void EndProcess(int code) {
  std::exit(code);
}

// Brings the runtime up in dependency order and builds the form.
void StartUp() {
  if (!CreateHeaps() || !InitFileSlots())
    EndProcess(EXIT_START_FAILED);
  InitWindowRuntime();
  InitControls();
  InitRequesters();
  if (InitScratchBuffer() == nullptr)
    EndProcess(EXIT_START_FAILED);
  BuildMainForm();
  if (LastWindowHandle() == 0)
    EndProcess(EXIT_START_FAILED);
  LoadCompactChoice();
}

// Runs the button's handler; the result is the code that ends the loop when
// the user asked to leave, else the code as it came.
int32_t Dispatch(int32_t control, int32_t code) {
  switch (control) {
    case ID_EXIT:
      return EV_CLOSE;
    case ID_GENERATE:
      CollectPatchRequest();
      break;
    case ID_OPEN_OLD:
      ChooseOldFile();
      break;
    case ID_OPEN_NEW:
      ChooseNewFile();
      break;
    default:
      break;
  }
  return code;
}

// Any event of the four buttons acts, whatever its kind; the close box and
// "Exit" both end the loop without a question.
void RunEventLoop() {
  int32_t code;
  do {
    code = WaitEvent();
    if (code == EV_CONTROL)
      code = Dispatch(EventControlNumber(), code);
    else if (code == EV_MENU && EventControlNumber() == CMD_COMPACT_PATCHES)
      ToggleCompactPatches();
  } while (code != EV_CLOSE);
}

void ShutDown() {
  CloseAllWindows();
  CloseAllFiles();
  DestroyHeaps();
}

[[noreturn]] void RunApplication() {
  StartUp();
  RunEventLoop();
  ShutDown();
  EndProcess(EXIT_DONE);
}

}  // namespace

int main() {
  RunApplication();
}

// The C runtime's start-up code for a program of the GUI subsystem.
extern "C" int WinMainCRTStartup();

// No library but KERNEL32 and the C runtime is loaded before this.
extern "C" int ToolEntry() {
  if (!LoadWindowLibraries())
    return EXIT_START_FAILED;
  return WinMainCRTStartup();
}
