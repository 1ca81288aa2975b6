// Catalogues of a shelf of images: what each one holds as JSON, the dumps' checksums as a
// Logiqx-style DAT, and which entry of a published DAT each one is.
#pragma once

#include <ostream>

#include "cli/Options.h"

// info --json: one JSON array, an object per image; an image that cannot be read gets an
// "error" and makes the status 1.
int RunInfoJson(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// ls --json: one JSON array, an object per image with its volume's facts and its tree.
int RunLsJson(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// Writes the DAT only when every image could be read.
int RunCatalog(const TOptions& Options, std::ostream& Out, std::ostream& Err);
// 1 when an image matches no entry or cannot be read.
int RunCheck(const TOptions& Options, std::ostream& Out, std::ostream& Err);
