// Ctrl-C, SIGTERM and SIGHUP in the console tool, all handled here. From the start a signal
// removes the unfinished outputs and ends the program as the signal would. A diskette run asks
// for a flag instead, so that it can stop its helper, clean up and end with InterruptedStatus;
// a second signal then ends the program at once, still removing the unfinished outputs.
#pragma once

#include <csignal>

// The exit status of a command stopped by Ctrl-C, as shells report a signal.
constexpr int InterruptedStatus = 128 + SIGINT;

// Called first thing in main (and by CatchInterrupts, for callers that skip main).
void EndOnInterrupt();
// From now on the first signal only sets the flag Interrupted() reads.
void CatchInterrupts();
bool Interrupted();
