// The text of a hive file: the registry editor's export format, as the registry writes it.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Wendlow Software\Marrowtide]
//   "Forced"=dword:00000000
//   @="C:\\Images\\disk.144"
//
// Only what the registry stores is read: keys, 32-bit integers (dword) and texts, whose only
// escapes are \\ and \". Every other line (a comment, a value of another type with the lines it
// continues onto) is kept as found and written back in its place. A line that starts like a key
// or a value but is malformed makes the hive damaged: an ERegistryException naming the file and
// the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class THiveLineKind { Kept, Dword, String, OtherValue };

struct THiveLine {
    THiveLineKind Kind = THiveLineKind::Kept;
    std::string Name;  // of a value; "" is the key's default value
    std::string Text;  // String: the text; Kept and OtherValue: the lines as found
    uint32_t Dword = 0;

    bool IsValue() const { return Kind != THiveLineKind::Kept; }
    bool operator==(const THiveLine&) const = default;
};

struct THiveKey {
    std::vector<std::string> Path;  // below the root
    std::vector<THiveLine> Lines;

    bool operator==(const THiveKey&) const = default;
};

// Every key has an entry of its own, its parents too, in file order. The root has one only when
// it holds lines.
struct THive {
    std::vector<std::string> Preamble;  // kept lines before the first key
    std::vector<THiveKey> Keys;

    bool operator==(const THive&) const = default;
};

// Key and value names compare without regard to (ASCII) case.
bool SameName(std::string_view A, std::string_view B);

// A key name holds no backslash (the separator) and nothing that would break its line.
bool ValidKeyName(std::string_view Name);

// Texts and value names are written on one quoted line: one holding a line break or NUL cannot
// be stored.
bool FitsOnALine(std::string_view S);

// Root is the root key's name ("HKEY_CURRENT_USER"), File the path shown in errors. An empty
// text is an empty hive.
THive ParseHiveText(std::string_view Text, const std::string& Root, const std::string& File);

std::string HiveText(const THive& Hive, const std::string& Root);
