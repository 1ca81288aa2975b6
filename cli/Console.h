// The terminal user's side of the diskette commands: Ctrl-C, and lines typed on standard input.
#pragma once

#include <string>

// From now on SIGINT, SIGTERM and SIGHUP only set a flag, so a run can stop its helper and clean
// up; a second signal ends the program at once.
void CatchInterrupts();
bool Interrupted();

// Standard input and standard error are a terminal: there is someone to ask.
bool HasTerminal();

enum class TTyped {
    Line,     // a line (without its line break)
    Stop,     // end of input, or Ctrl-C
    Nothing,  // nothing yet within the time given
};

// Waits up to TimeoutMs (-1: for good) for a line on standard input.
TTyped ReadTypedLine(int TimeoutMs, std::string& Line);

// Sleeps up to Milliseconds; a signal ends it early.
void Nap(int Milliseconds);
