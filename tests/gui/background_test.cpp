// Work beside the event loop: the loop must wake for every report of the
// work and for its end, or the window would wait for a message that never
// comes.
#include "gui/background.h"

#include <atomic>

#include "tests/gui/gui_runtime.h"

namespace gui_test {
namespace {

using BackgroundTest = GuiTest;

std::atomic<int> Reports;
std::atomic<bool> AllTaken;
HANDLE Taken = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // set by the loop

// Each report waits until the loop has taken it up.
void ReportThrice(void*) {
  bool taken = true;
  for (int i = 0; i < 3; i++) {
    Reports++;
    WakeEventLoop();
    taken = taken && WaitForSingleObject(Taken, 5000) == WAIT_OBJECT_0;
  }
  AllTaken = taken;
}

// Waits as the tool does, bounded should a wake go missing; the number of
// reports taken up.
int WaitForTheEnd() {
  UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, nullptr);
  int taken = 0;
  DWORD start = GetTickCount();
  while (BackgroundWorkRunning() && GetTickCount() - start < 10000) {
    WaitEvent();
    if (Reports > taken) {
      taken = Reports;
      SetEvent(Taken);
    }
  }
  KillTimer(nullptr, watchdog);
  EXPECT_LT(GetTickCount() - start, 8000u) << "the end did not wake the loop";
  return taken;
}

TEST_F(BackgroundTest, LoopWakesForEachReportAndTheEnd) {
  for (int run = 0; run < 2; run++) {
    Reports = 0;
    AllTaken = false;
    ASSERT_TRUE(StartBackgroundWork(ReportThrice, nullptr)) << run;
    EXPECT_FALSE(StartBackgroundWork(ReportThrice, nullptr)) << "one at a time";
    EXPECT_EQ(WaitForTheEnd(), 3);
    EXPECT_TRUE(AllTaken);
    EXPECT_FALSE(BackgroundWorkRunning()) << "the loop ended before the work";
  }
}

}  // namespace
}  // namespace gui_test
