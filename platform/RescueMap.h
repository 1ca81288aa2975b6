// What a rescue read learnt about each sector of a raw dump: read, bad, or not tried yet. Kept in
// GNU ddrescue's mapfile format, so that its own tools (ddrescuelog) read our maps, and a later
// pass knows what is still missing.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A map that cannot be used; the text says which line and why.
class EMapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int64_t MapSectorBytes = 512;

// The block statuses we use; a parsed map may also hold ddrescue's '*' (not trimmed) and '/'
// (not scraped), which count as not finished.
constexpr char MapFinished = '+';
constexpr char MapBad = '-';
constexpr char MapUntried = '?';

struct TMapBlock {
    int64_t Pos;
    int64_t Size;
    char Status;
};

class TRescueMap {
public:
    TRescueMap() = default;
    // Bytes long (a multiple of MapSectorBytes), every sector with Status.
    explicit TRescueMap(int64_t Bytes, char Status = MapUntried);

    int64_t Bytes() const { return int64_t(Sectors.size()) * MapSectorBytes; }
    int64_t SectorCount() const { return int64_t(Sectors.size()); }
    char Status(int64_t Sector) const { return Sectors.at(size_t(Sector)); }
    void Set(int64_t Sector, char Status) { Sectors.at(size_t(Sector)) = Status; }
    bool Finished(int64_t Sector) const { return Status(Sector) == MapFinished; }
    // Sectors not finished: bad, untried, or left by ddrescue in another state.
    int64_t Missing() const;
    int64_t Count(char Status) const;

    // Runs of equal status, in order, covering the whole dump.
    std::vector<TMapBlock> Blocks() const;

    // The mapfile. CurrentStatus is '+' for a pass that ended, '?' for one cut short.
    std::string Text(const std::string& CommandLine, char CurrentStatus) const;

    // Reads a mapfile strictly: comments and blank lines, the status line, then blocks that
    // follow each other from 0, on sector boundaries, to exactly ExpectedBytes. Throws EMapError.
    static TRescueMap Parse(const std::string& Text, int64_t ExpectedBytes);

private:
    std::vector<char> Sectors;
};
