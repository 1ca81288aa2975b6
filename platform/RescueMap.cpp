#include "platform/RescueMap.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

// No diskette dump comes near this; a larger claim is no map of ours to act on.
constexpr int64_t LargestMapBytes = 4 * 1024 * 1024;
constexpr size_t LongestMapText = 1024 * 1024;

bool IsBlockStatus(char C) { return C == '+' || C == '-' || C == '?' || C == '*' || C == '/'; }
// The status line may also say a pass is filling ('F') or generating ('G').
bool IsCurrentStatus(char C) { return IsBlockStatus(C) || C == 'F' || C == 'G'; }

std::string Hex(int64_t Value)
{
    char Text[24];
    std::snprintf(Text, sizeof Text, "0x%08llX", static_cast<unsigned long long>(Value));
    return Text;
}

std::vector<std::string> Fields(const std::string& Line)
{
    std::vector<std::string> Result;
    std::istringstream In(Line);
    for (std::string Field; In >> Field;)
        Result.push_back(Field);
    return Result;
}

// "0x" and hex digits, or decimal digits; -1 when it is neither or larger than LargestMapBytes.
int64_t Number(const std::string& Field)
{
    const bool IsHex = Field.size() > 2 && Field[0] == '0' && (Field[1] == 'x' || Field[1] == 'X');
    const std::string Digits = IsHex ? Field.substr(2) : Field;
    if (Digits.empty() || Digits.size() > 16)
        return -1;
    int64_t Value = 0;
    for (const char C : Digits) {
        int Digit;
        if (C >= '0' && C <= '9')
            Digit = C - '0';
        else if (IsHex && C >= 'a' && C <= 'f')
            Digit = C - 'a' + 10;
        else if (IsHex && C >= 'A' && C <= 'F')
            Digit = C - 'A' + 10;
        else
            return -1;
        Value = Value * (IsHex ? 16 : 10) + Digit;
        if (Value > LargestMapBytes)
            return -1;
    }
    return Value;
}

}  // namespace

TRescueMap::TRescueMap(int64_t Bytes, char Status)
    : Sectors(size_t(std::max<int64_t>(Bytes, 0) / MapSectorBytes), Status)
{
}

int64_t TRescueMap::Count(char Status) const
{
    return std::count(Sectors.begin(), Sectors.end(), Status);
}

int64_t TRescueMap::Missing() const { return SectorCount() - Count(MapFinished); }

std::vector<TMapBlock> TRescueMap::Blocks() const
{
    std::vector<TMapBlock> Result;
    for (size_t I = 0; I < Sectors.size(); ++I) {
        const int64_t Pos = int64_t(I) * MapSectorBytes;
        if (!Result.empty() && Result.back().Status == Sectors[I])
            Result.back().Size += MapSectorBytes;
        else
            Result.push_back({Pos, MapSectorBytes, Sectors[I]});
    }
    return Result;
}

std::string TRescueMap::Text(const std::string& CommandLine, char CurrentStatus) const
{
    std::string Out = "# Mapfile. Created by marrowtide-img\n";
    std::string Command;
    for (const char C : CommandLine)
        Command += C == '\n' || C == '\r' ? ' ' : C;
    Out += "# Command line: " + Command + "\n";
    Out += "# current_pos  current_status  current_pass\n";
    Out += Hex(0) + "     " + CurrentStatus + "               1\n";
    Out += "#      pos        size  status\n";
    for (const TMapBlock& Block : Blocks())
        Out += Hex(Block.Pos) + "  " + Hex(Block.Size) + "  " + Block.Status + "\n";
    return Out;
}

TRescueMap TRescueMap::Parse(const std::string& Text, int64_t ExpectedBytes)
{
    if (Text.size() > LongestMapText)
        throw EMapError("it is " + std::to_string(Text.size()) + " bytes long, too long for a map");
    if (Text.find('\0') != std::string::npos)
        throw EMapError("it holds binary data, not the text of a map");
    TRescueMap Map(ExpectedBytes);
    bool SawStatusLine = false;
    int64_t Next = 0;
    int LineNumber = 0;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);) {
        ++LineNumber;
        auto Bad = [&](const std::string& Why) {
            return EMapError("line " + std::to_string(LineNumber) + ": " + Why);
        };
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        const std::vector<std::string> Parts = Fields(Line);
        if (Parts.empty() || Parts[0][0] == '#')
            continue;
        if (!SawStatusLine) {
            // current_pos current_status [current_pass]
            if (Parts.size() < 2 || Parts.size() > 3 || Number(Parts[0]) < 0 ||
                Parts[1].size() != 1 || !IsCurrentStatus(Parts[1][0]) ||
                (Parts.size() == 3 && (Parts[2].size() != 1 || Parts[2][0] < '1' || Parts[2][0] > '5')))
                throw Bad("expected the status line \"current_pos current_status [current_pass]\"");
            SawStatusLine = true;
            continue;
        }
        if (Parts.size() != 3 || Parts[2].size() != 1)
            throw Bad("expected a block \"pos size status\"");
        const int64_t Pos = Number(Parts[0]);
        const int64_t Size = Number(Parts[1]);
        const char Status = Parts[2][0];
        if (Pos < 0 || Size < 0)
            throw Bad("position and size must be numbers of at most " +
                      std::to_string(LargestMapBytes) + " bytes");
        if (!IsBlockStatus(Status))
            throw Bad(std::string("unknown status '") + Status + "'");
        if (Pos != Next)
            throw Bad("the block starts at " + std::to_string(Pos) + " but the one before ends at " +
                      std::to_string(Next));
        if (Size == 0 || Pos % MapSectorBytes != 0 || Size % MapSectorBytes != 0)
            throw Bad("the block is not whole sectors of 512 bytes");
        if (ExpectedBytes >= 0 && Pos + Size > ExpectedBytes)
            throw Bad("the block ends past the dump's " + std::to_string(ExpectedBytes) + " bytes");
        if (ExpectedBytes < 0)
            Map.Sectors.resize(size_t((Pos + Size) / MapSectorBytes));
        std::fill(Map.Sectors.begin() + Pos / MapSectorBytes,
                  Map.Sectors.begin() + (Pos + Size) / MapSectorBytes, Status);
        Next = Pos + Size;
    }
    if (!SawStatusLine)
        throw EMapError("it holds no status line: not a map");
    if (Next == 0)
        throw EMapError("it holds no blocks");
    if (ExpectedBytes >= 0 && Next != ExpectedBytes)
        throw EMapError("its blocks cover " + std::to_string(Next) + " bytes, the dump has " +
                        std::to_string(ExpectedBytes));
    return Map;
}
