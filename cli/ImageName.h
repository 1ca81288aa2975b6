// The names a box of diskettes is imaged under: a pattern with "{n}" (or "{n:03}", zero-padded
// to 3 digits) for the diskette's number, "{label}" for its volume label and "{ext}" for the
// extension of its format ("720" for a 720KB diskette).
#pragma once

#include <string>

// Throws EUsage for a placeholder the pattern language does not know, or one left unclosed.
void CheckImagePattern(const std::string& Pattern);

// The pattern with its placeholders filled in; the label made safe for a file name.
std::string ExpandImageName(const std::string& Pattern, int Number, const std::string& Label,
                            const std::string& Extension = "");

// Label as one part of a path: no separator, never "." or ".." or nothing ("NO_LABEL" then).
std::string SafeLabel(const std::string& Label);
