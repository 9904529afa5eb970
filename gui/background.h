// Work run on a thread of its own while the thread that started it goes on
// taking events, so that its windows keep answering.
//
// The work touches no window or control and uses the runtime's
// process-wide state (the ScratchBuffer, the file slots) alone: while it
// runs, the starting thread only waits for events and sets controls. One
// piece of work at a time; the starting thread waits for its end with
//   while (BackgroundWorkRunning()) WaitEvent();
// since the end itself makes that WaitEvent return.
#pragma once

using BackgroundWork = void (*)(void* context);

// Runs work(context) on a new thread. False, with nothing started, when no
// thread can be had or work is running already.
bool StartBackgroundWork(BackgroundWork work, void* context);

// Called by the work: makes the starting thread's current or next
// WaitEvent return, with a message that makes no event, so that it can take
// up what the work reported.
void WakeEventLoop();

// True until the work has returned; the first false also releases its
// thread. Called by the starting thread.
bool BackgroundWorkRunning();
