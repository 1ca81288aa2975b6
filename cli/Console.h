// The terminal user's side of the diskette commands: lines typed on standard input, and waits
// that Ctrl-C ends (cli/Interrupts.h).
#pragma once

#include <string>

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
