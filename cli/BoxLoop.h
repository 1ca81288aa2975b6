// The box loop: one diskette after another from one drive, each into the next free name of a
// pattern, with a line per diskette on the terminal and in an optional CSV log.
#pragma once

#include <ostream>
#include <string>

#include "cli/Options.h"

// read DRIVE --each PATTERN [--log FILE]
int RunBox(const TOptions& Options, std::ostream& Out, std::ostream& Err);
