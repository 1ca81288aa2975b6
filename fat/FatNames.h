// The names a FAT directory holds, turned into UTF-8 text: 8.3 names in code page 437, long
// names in UTF-16, and the checks that keep a name one harmless path component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Code page 437 bytes as UTF-8; bytes below 0x20 and 0x7F are kept as they are.
std::string Cp437ToUtf8(std::string_view Bytes);
// UTF-16 code units as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::vector<uint16_t>& Units);
// The checksum of an 11-byte 8.3 name that its long-name pieces carry.
uint8_t ShortNameChecksum(const uint8_t* Name);
// The 8.3 name of the 32-byte directory entry Entry ("NAME.EXT", lower case where the entry's
// case bits say so), in UTF-8. A deleted entry's first letter is lost: it becomes '?'.
std::string ShortNameText(const uint8_t* Entry, bool Deleted);
// Makes Name safe as one path component (see TFatEntry::Name); returns what was wrong with it,
// "" when nothing was.
std::string MakeSafeName(std::string& Name);
