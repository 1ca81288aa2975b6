// Logiqx-style XML DAT files: the catalogues of known-good dumps that preservation groups
// publish, one entry (game or machine) per medium with the checksums of its dumps (roms).
// Read with expat, which loads no outside entities; written by the tool's own escaper.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A DAT that cannot be read or is no DAT; the text names the file.
class EDatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TDatRom {
    std::string Name;
    std::optional<uint64_t> Size;  // none when absent or not a decimal number
    // Lower-case hex of the exact length, or "" when absent or not hex.
    std::string Crc32;
    std::string Md5;
    std::string Sha1;

    bool operator==(const TDatRom&) const = default;
};

struct TDatEntry {
    std::string Name;
    std::string Description;
    std::vector<TDatRom> Roms;

    bool operator==(const TDatEntry&) const = default;
};

struct TDat {
    std::string Name;
    std::string Description;
    std::string Version;
    std::string Date;
    std::string Author;
    std::vector<TDatEntry> Entries;

    bool operator==(const TDat&) const = default;
};

// Feeds a DAT to expat piece by piece, so a large one is never held whole.
class TDatReader {
public:
    explicit TDatReader(std::string Source);
    ~TDatReader();
    TDatReader(const TDatReader&) = delete;
    TDatReader& operator=(const TDatReader&) = delete;

    // EDatError naming the source, line and column on XML that is not well-formed, or a root
    // element other than <datafile>.
    void Feed(std::string_view Bytes, bool Last);
    // The whole DAT, once Feed was given the last piece.
    TDat Take();

private:
    struct TState;
    std::unique_ptr<TState> State;
};

TDat ParseDat(std::string_view Xml, const std::string& Source);
TDat ReadDatFile(const std::string& Path);

// The XML text of a DAT, with the usual declaration and document type.
std::string DatText(const TDat& Dat);

// Text as it may stand in XML content or a quoted attribute: markup characters as references,
// bytes that are no UTF-8 and characters XML does not allow as U+FFFD.
std::string XmlEscaped(std::string_view Text);
