// The console tool's drive table and virtual diskette commands.
#pragma once

#include <ostream>
#include <string>

#include "cli/Options.h"

// drive list | drive LETTER PATH | drive LETTER --clear
int RunDrive(const TOptions& Options, std::ostream& Out);

// format FORMAT FILE: a blank virtual diskette; an existing FILE is never replaced.
int RunFormat(const TOptions& Options, std::ostream& Out);

// The format index a user's format name stands for ("1.44MB", "1.44", "144", "720k", "DMF"
// names as "1.68MB" ..., without regard to case), or -1.
int FormatIndexOfName(const std::string& Name);

// The format names the tool takes, for messages: "2.88MB, 1.44MB, ... or 360KB".
std::string FormatNameList();
