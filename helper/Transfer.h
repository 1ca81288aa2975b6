// The sector-transfer helper's runs: reading a whole diskette into a raw dump, writing a dump
// onto a diskette, and reporting through the exchange files in the working directory.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

constexpr int64_t SectorBytes = 512;
constexpr int64_t LargestDiskBytes = 2949120;  // 2.88MB: no diskette is larger

// A run failed; the text is the one line error.dat gets.
class ETransferError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The parameter string is unusable (exit status 2).
class ECommandLineError : public ETransferError {
public:
    using ETransferError::ETransferError;
};

// One transfer on the medium failed; the text says why (the run adds which track).
class EMediumError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TTransferRequest {
    // 'i' reads the diskette into File, 'd' writes File onto it, 'r' rescues what can be read
    // of it into File (see helper/Rescue.h)
    char Operation = 'i';
    std::string File;
    int Tracks = 0;
    char Drive = 'A';      // upper case
    int SectorsPerTrack = 0;
    int Retries = 0;       // 'r': further reads of a sector that failed

    int64_t TrackBytes() const { return 2 * SectorsPerTrack * SectorBytes; }
    int64_t TracksBytes() const { return Tracks * TrackBytes(); }
    // Length of the dump a read leaves: the format table's size for a known (Tracks,
    // SectorsPerTrack) pair (some are longer than their tracks), else the tracks' bytes.
    int64_t DumpBytes() const;
    // The row of the format table the tracks and sectors stand for, or the unknown format (a
    // one-track conversion run).
    uint8_t FormatIndex() const;
};

// "OP FILE TRACKS DRIVE SECTORS w", and "r FILE TRACKS DRIVE SECTORS w RETRIES"; runs of blanks
// count as one. Throws ECommandLineError.
TTransferRequest ParseParameters(const std::string& Parameters);

// A diskette: a fixed number of bytes, read and written in whole sectors.
class TMedium {
public:
    virtual ~TMedium() = default;
    virtual int64_t Capacity() const = 0;
    // Each throws EMediumError; Offset and the length are multiples of SectorBytes.
    virtual void Read(int64_t Offset, std::span<uint8_t> Data) = 0;
    virtual void Write(int64_t Offset, std::span<const uint8_t> Data) = 0;
    // One sector, answered by the medium itself for that sector alone (a cached page would
    // fail or hide its neighbours too).
    virtual void ReadSector(int64_t Offset, std::span<uint8_t> Data) { Read(Offset, Data); }
    // Between two attempts at a weak sector near Offset: the head moves far away and comes back
    // with the next read, on a drive that has one.
    virtual void MoveHeadAway(int64_t /*Offset*/) {}
    // Puts everything written on the medium itself, so that a later Read sees the medium and
    // not a cache.
    virtual void Flush() = 0;
};

// Opens the diskette in drive Letter for reading or for writing, as a diskette of the format
// FormatIndex (a row of the format table; the unknown format when the run does not tell);
// throws ETransferError.
using TMediumOpener =
    std::function<std::unique_ptr<TMedium>(char Letter, bool ForWriting, uint8_t FormatIndex)>;

// The opener of the real program: DriveTarget(Letter), then a TDiskMedium on it.
std::unique_ptr<TMedium> OpenDrive(char Letter, bool ForWriting, uint8_t FormatIndex);

struct TRunOptions {
    TMediumOpener OpenMedium = OpenDrive;
    int ReadAttempts = 4;  // a failed read is retried three times
    // Set (by a signal handler) to end the run after the current step, as a failure.
    const volatile std::sig_atomic_t* Interrupted = nullptr;
    bool ReportOnStderr = false;  // also print a failure on standard error
};

// One whole run as the program starts it, in WorkDir: removes a stale error.dat, parses the
// parameters, transfers, and at the end writes error.dat on failure and removes working.dat
// last. Returns the exit status: 0 success, 1 failure, 2 bad command line. Never throws.
int RunHelper(const std::string& Parameters, const std::string& WorkDir,
              const TRunOptions& Options = {});
