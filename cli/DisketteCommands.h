// The diskette commands: read (Make Image), write (Make Disk) and verify, one diskette or a whole
// box of them, through the same workflows as the window.
#pragma once

#include <ostream>
#include <string>

#include "cli/Options.h"

// read DRIVE [IMAGE] | read DRIVE --each PATTERN [--log FILE]
int RunRead(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// write IMAGE DRIVE [--convert]
int RunWrite(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// verify IMAGE DRIVE
int RunVerify(const TOptions& Options, std::ostream& Out, std::ostream& Err);

// A box's image name: "{n}" (or "{n:03}", zero-padded to 3 digits) becomes Number and
// "{label}" the volume label, made safe for a file name.
std::string ExpandImageName(const std::string& Pattern, int Number, const std::string& Label);

// Name with the extension of the diskette format FormatIndex when it has none.
std::string WithFormatExtension(const std::string& Name, int FormatIndex);
