// The diskette commands: read (Make Image), write (Make Disk) and verify, through the same
// workflows as the window; a whole box of diskettes is read by the box loop (cli/BoxLoop.h).
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cli/Options.h"

// read DRIVE [IMAGE] | read DRIVE --each PATTERN [--log FILE]
int RunRead(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// write IMAGE DRIVE [--convert]
int RunWrite(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// verify IMAGE DRIVE
int RunVerify(const TOptions& Options, std::ostream& Out, std::ostream& Err);

// The last part of Name has an extension ("dir.v2/disk" has none).
bool HasExtension(const std::string& Name);

// Name ends in Extension ("x.IMD" ends in ".imd"), and has a name before it.
bool HasExtension(const std::string& Name, std::string_view Extension);

// Name with the extension of the diskette format FormatIndex when it has none.
std::string WithFormatExtension(const std::string& Name, int FormatIndex);
