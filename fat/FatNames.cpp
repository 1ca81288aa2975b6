#include "fat/FatNames.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::array<uint16_t, 128> Cp437High{
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void PutUtf8(std::string& Out, uint32_t Code)
{
    if (Code < 0x80) {
        Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
        Out += static_cast<char>(0xC0 | Code >> 6);
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
        Out += static_cast<char>(0xE0 | Code >> 12);
        Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | Code >> 18);
        Out += static_cast<char>(0x80 | (Code >> 12 & 0x3F));
        Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
}

// Name as it was stored, for a message: control bytes and quotes written as \xNN.
std::string Quoted(const std::string& Name)
{
    std::string Out = "\"";
    for (const unsigned char C : Name) {
        if (C < 0x20 || C == 0x7F || C == '"' || C == '\\') {
            char Hex[5];
            std::snprintf(Hex, sizeof Hex, "\\x%02X", C);
            Out += Hex;
        } else {
            Out += static_cast<char>(C);
        }
    }
    return Out + "\"";
}

}  // namespace

std::string Cp437ToUtf8(std::string_view Bytes)
{
    std::string Out;
    for (const unsigned char C : Bytes)
        PutUtf8(Out, C < 0x80 ? C : Cp437High[C - 0x80]);
    return Out;
}

std::string Utf16ToUtf8(const std::vector<uint16_t>& Units)
{
    std::string Out;
    for (size_t i = 0; i < Units.size(); ++i) {
        uint32_t Code = Units[i];
        if (Code >= 0xD800 && Code < 0xDC00 && i + 1 < Units.size() && Units[i + 1] >= 0xDC00 &&
            Units[i + 1] < 0xE000) {
            Code = 0x10000 + ((Code - 0xD800) << 10) + (Units[i + 1] - 0xDC00);
            ++i;
        } else if (Code >= 0xD800 && Code < 0xE000) {
            Code = 0xFFFD;
        }
        PutUtf8(Out, Code);
    }
    return Out;
}

uint8_t ShortNameChecksum(const uint8_t* Name)
{
    uint8_t Sum = 0;
    for (int i = 0; i < 11; ++i)
        Sum = static_cast<uint8_t>(((Sum & 1) << 7) + (Sum >> 1) + Name[i]);
    return Sum;
}

std::string ShortNameText(const uint8_t* Entry, bool Deleted)
{
    // Bits 3 and 4 of byte 12: the base name and the extension are shown in lower case.
    const auto Part = [Entry](int From, int Length, bool Lower) {
        std::string Text(reinterpret_cast<const char*>(Entry + From), Length);
        Text.erase(Text.find_last_not_of(' ') + 1);
        if (Lower)
            for (char& C : Text)
                if (C >= 'A' && C <= 'Z')
                    C = static_cast<char>(C - 'A' + 'a');
        return Text;
    };
    std::string Base = Part(0, 8, Entry[12] & 0x08);
    const std::string Extension = Part(8, 3, Entry[12] & 0x10);
    if (Deleted && !Base.empty())
        Base[0] = '?';
    else if (!Base.empty() && Base[0] == '\x05')
        Base[0] = '\xE5';  // a real first byte of 0xE5 is stored as 0x05
    return Cp437ToUtf8(Extension.empty() ? Base : Base + "." + Extension);
}

std::string MakeSafeName(std::string& Name)
{
    if (Name.empty()) {
        Name = "_";
        return "has an empty name";
    }
    const std::string Stored = Name;
    bool Control = false, Separator = false;
    for (char& C : Name) {
        const unsigned char U = static_cast<unsigned char>(C);
        if (U < 0x20 || U == 0x7F) {
            Control = true;
            C = '_';
        } else if (C == '/' || C == '\\') {
            Separator = true;
            C = '_';
        }
    }
    if (Name == "." || Name == "..") {
        Name = "_" + Name;
        return "has the name " + Quoted(Stored) + ", shown as " + Name;
    }
    if (Control || Separator)
        return "has the name " + Quoted(Stored) + " with " +
               (Control && Separator ? "control bytes and a path separator"
                : Control            ? "control bytes"
                                     : "a path separator") +
               ", shown as " + Name;
    return "";
}
