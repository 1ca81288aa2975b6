#include "helper/Transfer.h"

#include "core/FormatTable.h"
#include "helper/DiskMedium.h"
#include "helper/ExchangeFiles.h"
#include "helper/Rescue.h"
#include "platform/Drives.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MaxTracks = 255;
constexpr int MaxSectors = 99;

std::string Printable(const std::string& Text)
{
    std::string Result;
    for (unsigned char C : Text.substr(0, 200))
        Result += (C < 0x20 || C == 0x7f) ? '?' : static_cast<char>(C);
    return Text.size() > 200 ? Result + "..." : Result;
}

// A decimal number of at most MaxDigits digits, no sign; -1 otherwise.
int DecimalField(const std::string& Field, size_t MaxDigits)
{
    if (Field.empty() || Field.size() > MaxDigits)
        return -1;
    int Value = 0;
    for (char C : Field) {
        if (C < '0' || C > '9')
            return -1;
        Value = Value * 10 + (C - '0');
    }
    return Value;
}

std::string Geometry(const TTransferRequest& Request)
{
    return std::to_string(Request.Tracks) + (Request.Tracks == 1 ? " track" : " tracks") +
           " of " + std::to_string(Request.SectorsPerTrack) + " sectors";
}

std::string DriveName(char Letter) { return std::string("drive ") + Letter + ":"; }

// One step of a run: a whole track, or a quarter of the only track of a one-track run.
struct TPiece {
    int Track;
    int64_t Offset;
    int64_t Bytes;
    bool EndsTrack;
    int Progress;  // reported once the piece is done
};

std::vector<TPiece> PiecesOf(const TTransferRequest& Request)
{
    std::vector<TPiece> Pieces;
    const int64_t TrackBytes = Request.TrackBytes();
    if (Request.Tracks == 1) {
        // The program shows four steps; quarters end on sector boundaries.
        const int64_t Sectors = TrackBytes / SectorBytes;
        for (int Quarter = 0; Quarter < 4; ++Quarter) {
            const int64_t From = Quarter * Sectors / 4 * SectorBytes;
            const int64_t To = (Quarter + 1) * Sectors / 4 * SectorBytes;
            Pieces.push_back({0, From, To - From, Quarter == 3, Quarter});
        }
        return Pieces;
    }
    for (int Track = 0; Track < Request.Tracks; ++Track)
        Pieces.push_back({Track, Track * TrackBytes, TrackBytes, true, Track + 1});
    return Pieces;
}

// The dump of a read run. Until Commit() succeeds, the file is removed again on destruction:
// an incomplete dump must not stay behind looking like a diskette.
class TDumpOutput {
public:
    TDumpOutput(const TExchangeFiles& Files, std::string Name)
        : Path(Files.PathOf(Name)), Name(std::move(Name))
    {
        // Emptied only once it is known to be a plain file of ours.
        File = Files.OpenRegular(this->Name, O_WRONLY | O_CREAT, "the dump file " + this->Name,
                                 "created");
        if (::ftruncate(File.Get(), 0) != 0) {
            const int Error = errno;
            File.Reset();
            Failed(Error);
        }
    }
    ~TDumpOutput()
    {
        File.Reset();
        if (!Committed)
            ::unlink(Path.c_str());
    }
    TDumpOutput(const TDumpOutput&) = delete;
    TDumpOutput& operator=(const TDumpOutput&) = delete;

    void WriteAt(int64_t Offset, const uint8_t* Data, int64_t Bytes)
    {
        int64_t Done = 0;
        while (Done < Bytes) {
            const ssize_t N = ::pwrite(File.Get(), Data + Done, static_cast<size_t>(Bytes - Done),
                                       Offset + Done);
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0)
                Failed(N < 0 ? errno : EIO);
            Done += N;
        }
    }

    // Zero-fills up to Length (the longer dumps), flushes and closes.
    void Commit(int64_t Length)
    {
        if (::ftruncate(File.Get(), Length) != 0 || ::fsync(File.Get()) != 0 || !File.Close())
            Failed(errno);
        Committed = true;
    }

private:
    [[noreturn]] void Failed(int Error) const
    {
        throw ETransferError("the dump file " + Name + " cannot be written: " +
                             std::strerror(Error));
    }

    std::string Path;
    std::string Name;
    TFileHandle File;
    bool Committed = false;
};

class TRun {
public:
    TRun(const TTransferRequest& Request, const TExchangeFiles& Files, const TRunOptions& Options)
        : Request(Request), Files(Files), Options(Options)
    {
    }
    void ReadDisk();
    void WriteDisk();
    void RescueDisk();

private:
    void CheckInterrupted() const
    {
        if (Options.Interrupted && *Options.Interrupted)
            throw ETransferError("the run was interrupted");
    }
    // Reads with retries; a failure names the track and What ("read", "read back").
    void ReadPiece(TMedium& Medium, const TPiece& Piece, uint8_t* Data, const char* What) const;
    std::unique_ptr<TMedium> OpenMedium(bool ForWriting) const;
    // The medium opened for reading, refused when it holds fewer tracks than asked.
    std::unique_ptr<TMedium> OpenMediumToRead() const;

    const TTransferRequest& Request;
    const TExchangeFiles& Files;
    const TRunOptions& Options;
};

std::unique_ptr<TMedium> TRun::OpenMedium(bool ForWriting) const
{
    if (!Options.OpenMedium)
        throw ETransferError(DriveName(Request.Drive) + " is not available");
    auto Medium = Options.OpenMedium(Request.Drive, ForWriting, Request.FormatIndex());
    if (!Medium)
        throw ETransferError(DriveName(Request.Drive) + " is not available");
    return Medium;
}

void TRun::ReadPiece(TMedium& Medium, const TPiece& Piece, uint8_t* Data, const char* What) const
{
    const int Attempts = std::max(1, Options.ReadAttempts);
    std::string Why;
    for (int Attempt = 1; Attempt <= Attempts; ++Attempt) {
        try {
            Medium.Read(Piece.Offset, {Data, static_cast<size_t>(Piece.Bytes)});
            return;
        } catch (const EMediumError& E) {
            Why = E.what();
        }
        CheckInterrupted();
    }
    throw ETransferError("track " + std::to_string(Piece.Track) + " could not be " + What +
                         " (" + std::to_string(Attempts) +
                         (Attempts == 1 ? " attempt): " : " attempts): ") + Why);
}

std::unique_ptr<TMedium> TRun::OpenMediumToRead() const
{
    auto Medium = OpenMedium(false);
    if (Medium->Capacity() < Request.TracksBytes())
        throw ETransferError("the diskette in " + DriveName(Request.Drive) +
                             " holds fewer tracks than asked: it holds " +
                             std::to_string(Medium->Capacity()) + " bytes, " + Geometry(Request) +
                             " need " + std::to_string(Request.TracksBytes()));
    return Medium;
}

void TRun::ReadDisk()
{
    auto Medium = OpenMediumToRead();
    TDumpOutput Dump(Files, Request.File);
    std::vector<uint8_t> Buffer(static_cast<size_t>(Request.TrackBytes()));
    for (const TPiece& Piece : PiecesOf(Request)) {
        ReadPiece(*Medium, Piece, Buffer.data(), "read");
        Dump.WriteAt(Piece.Offset, Buffer.data(), Piece.Bytes);
        Files.ReportProgress(Piece.Progress);
        CheckInterrupted();
    }
    Dump.Commit(Request.DumpBytes());
}

void TRun::RescueDisk()
{
    auto Medium = OpenMediumToRead();
    RescueRead(Request, Files, Options, *Medium);
}

void TRun::WriteDisk()
{
    TFileHandle Dump = Files.OpenRegular(Request.File, O_RDONLY, "the image file " + Request.File,
                                         "opened");
    std::vector<uint8_t> Image(static_cast<size_t>(Request.TracksBytes()));
    int64_t Have = 0;
    int Error = 0;
    while (Have < Request.TracksBytes()) {
        const ssize_t N = ::pread(Dump.Get(), Image.data() + Have,
                                  static_cast<size_t>(Request.TracksBytes() - Have), Have);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0)
            Error = errno;
        if (N <= 0)
            break;
        Have += N;
    }
    Dump.Reset();
    if (Error)
        throw ETransferError("the image file " + Request.File + " cannot be read: " +
                             std::strerror(Error));
    if (Have < Request.TracksBytes())
        throw ETransferError("the image file " + Request.File + " holds " + std::to_string(Have) +
                             " bytes, fewer than " + Geometry(Request) + " need (" +
                             std::to_string(Request.TracksBytes()) + " bytes)");

    auto Medium = OpenMedium(true);
    if (Medium->Capacity() < Request.TracksBytes())
        throw ETransferError("the diskette in " + DriveName(Request.Drive) +
                             " is too small: it holds " + std::to_string(Medium->Capacity()) +
                             " bytes, " + Geometry(Request) + " need " +
                             std::to_string(Request.TracksBytes()));

    std::vector<uint8_t> Back(static_cast<size_t>(Request.TrackBytes()));
    for (const TPiece& Piece : PiecesOf(Request)) {
        const std::string Track = "track " + std::to_string(Piece.Track);
        try {
            Medium->Write(Piece.Offset, {Image.data() + Piece.Offset,
                                         static_cast<size_t>(Piece.Bytes)});
        } catch (const EMediumError& E) {
            throw ETransferError(Track + " could not be written: " + E.what());
        }
        if (Piece.EndsTrack) {
            // Verify what the medium holds, not what the cache remembers.
            try {
                Medium->Flush();
            } catch (const EMediumError& E) {
                throw ETransferError(Track + " could not be flushed to the diskette: " + E.what());
            }
            const int64_t Start = static_cast<int64_t>(Piece.Track) * Request.TrackBytes();
            const TPiece Whole{Piece.Track, Start, Request.TrackBytes(), true, Piece.Progress};
            ReadPiece(*Medium, Whole, Back.data(), "read back after writing");
            if (!std::equal(Back.begin(), Back.end(), Image.begin() + Start))
                throw ETransferError(Track + " differs from the image after writing (verify failed)");
        }
        Files.ReportProgress(Piece.Progress);
        CheckInterrupted();
    }
}

}  // namespace

int64_t TTransferRequest::DumpBytes() const
{
    const uint8_t Format = FormatIndex();
    return Format == UnknownFormatIndex ? TracksBytes() : FormatTable[Format].TotalBytes;
}

uint8_t TTransferRequest::FormatIndex() const
{
    return FormatIndexOfHelperTracks(Tracks, SectorsPerTrack);
}

TTransferRequest ParseParameters(const std::string& Parameters)
{
    auto Bad = [&](const std::string& Why) {
        return ECommandLineError("bad command line \"" + Printable(Parameters) + "\": " + Why +
                                 " (expected: OP FILE TRACKS DRIVE SECTORS w)");
    };
    std::vector<std::string> Fields;
    size_t At = 0;
    while (At < Parameters.size()) {
        const size_t End = std::min(Parameters.find(' ', At), Parameters.size());
        if (End > At)
            Fields.push_back(Parameters.substr(At, End - At));
        At = End + 1;
    }
    if (Fields.size() != 6 && Fields.size() != 7)
        throw Bad(std::to_string(Fields.size()) + " fields instead of 6");

    TTransferRequest Request;
    const std::string& Op = Fields[0];
    const char Operation = Op.size() == 1 ? static_cast<char>(Op[0] | 0x20) : 0;
    if (Operation != 'i' && Operation != 'd' && Operation != 'r')
        throw Bad("the operation must be i (read the diskette), d (write it) or r (rescue it)");
    Request.Operation = Operation;
    const size_t FieldsWanted = Operation == 'r' ? 7 : 6;
    if (Fields.size() != FieldsWanted)
        throw Bad(std::to_string(Fields.size()) + " fields instead of " +
                  std::to_string(FieldsWanted));
    Request.File = Fields[1];

    Request.Tracks = DecimalField(Fields[2], 3);
    if (Request.Tracks < 1 || Request.Tracks > MaxTracks)
        throw Bad("the track count must be a number from 1 to " + std::to_string(MaxTracks));

    std::string Drive = Fields[3];
    if (Drive.size() == 2 && Drive[1] == ':')
        Drive.pop_back();
    const char Letter = Drive.size() == 1 ? static_cast<char>(Drive[0] & ~0x20) : 0;
    if (Letter < 'A' || Letter > 'Z')
        throw Bad("the drive must be a letter from A to Z");
    Request.Drive = Letter;

    Request.SectorsPerTrack = DecimalField(Fields[4], 2);
    if (Request.SectorsPerTrack < 1 || Request.SectorsPerTrack > MaxSectors)
        throw Bad("the sectors per track must be a number from 1 to " +
                  std::to_string(MaxSectors));
    if (Fields[5] != "w" && Fields[5] != "W")
        throw Bad("the sixth field must be w");
    if (Operation == 'r') {
        Request.Retries = DecimalField(Fields[6], 2);
        if (Request.Retries < 0)
            throw Bad("the retries must be a number from 0 to 99");
    }
    if (Request.TracksBytes() > LargestDiskBytes)
        throw Bad(Geometry(Request) + " are more than any diskette holds");
    return Request;
}

std::unique_ptr<TMedium> OpenDrive(char Letter, bool ForWriting, uint8_t FormatIndex)
{
    const std::string Target = DriveTarget(Letter);
    if (Target.empty())
        throw ETransferError(DriveName(Letter) + " is not available");
    return TDiskMedium::Open(Target, Letter, ForWriting, FormatIndex);
}

int RunHelper(const std::string& Parameters, const std::string& WorkDir,
              const TRunOptions& Options)
{
    const TExchangeFiles Files(WorkDir);
    int Status = 0;
    std::string Failure;
    try {
        Files.RemoveStaleError();
        const TTransferRequest Request = ParseParameters(Parameters);
        TRun Run(Request, Files, Options);
        if (Request.Operation == 'i')
            Run.ReadDisk();
        else if (Request.Operation == 'r')
            Run.RescueDisk();
        else
            Run.WriteDisk();
    } catch (const ECommandLineError& E) {
        Status = 2;
        Failure = E.what();
    } catch (const std::bad_alloc&) {
        Status = 1;
        Failure = "out of memory";
    } catch (const std::exception& E) {
        Status = 1;
        Failure = E.what();
    } catch (...) {
        Status = 1;
        Failure = "an unexpected failure";
    }
    if (Status != 0) {
        if (Options.ReportOnStderr)
            std::cerr << "Rastrel2: " << Failure << '\n';
        // Without error.dat, a vanished working.dat reads as success: keep it then.
        if (!Files.WriteError(Failure)) {
            if (Options.ReportOnStderr)
                std::cerr << "Rastrel2: error.dat cannot be written; working.dat stays\n";
            return 1;
        }
    }
    if (!Files.RemoveWorking()) {
        if (Options.ReportOnStderr)
            std::cerr << "Rastrel2: working.dat cannot be removed: " << std::strerror(errno)
                      << '\n';
        return Status ? Status : 1;
    }
    return Status;
}
