// The box loop: one diskette after another from one drive, each into the next free name of a
// pattern, with a line per diskette on the terminal and in an optional CSV log.
#pragma once

#include <ostream>
#include <string>

#include "cli/Options.h"

// read DRIVE --each PATTERN [--log FILE]
int RunBox(const TOptions& Options, std::ostream& Out, std::ostream& Err);

// A box's image name: "{n}" (or "{n:03}", zero-padded to 3 digits) becomes Number and
// "{label}" the volume label, made safe for a file name.
std::string ExpandImageName(const std::string& Pattern, int Number, const std::string& Label);
