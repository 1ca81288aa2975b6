// Text crosses between std::string (below the shell) and QString here only. Both sides are
// UTF-8: the program's own texts are plain ASCII, and file names on Linux are in the locale's
// encoding, UTF-8 on Debian (Qt 6 takes the local 8-bit encoding on Unix to be UTF-8 as well).
#pragma once

#include <QString>

#include <string>

inline QString ToQString(const std::string& Text) { return QString::fromStdString(Text); }
inline std::string ToStdString(const QString& Text) { return Text.toStdString(); }
