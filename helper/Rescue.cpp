#include "helper/Rescue.h"

#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/RescueMap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

class TRescue {
public:
    TRescue(const TTransferRequest& Request, const TExchangeFiles& Files,
            const TRunOptions& Options, TMedium& Medium)
        : Request(Request), Files(Files), Options(Options), Medium(Medium),
          TrackSectors(Request.TrackBytes() / SectorBytes),
          Dump(size_t(Request.DumpBytes()), 0)
    {
    }

    void Run()
    {
        if (::access(Files.PathOf(MapName()).c_str(), F_OK) == 0) {
            LoadEarlierPasses();
            CheckSameDiskette();
        } else {
            Map = TRescueMap(Request.DumpBytes(), MapUntried);
            // The padding of the longer dumps is no part of the diskette: nothing to read.
            for (int64_t S = Request.TracksBytes() / SectorBytes; S < Map.SectorCount(); ++S)
                Map.Set(S, MapFinished);
        }
        bool Cut = false;
        for (int Track = 0; Track < Request.Tracks && !Cut; ++Track) {
            Cut = !ReadTrack(Track);
            if (!Cut)
                Files.ReportProgress(Track + 1);
        }
        Save(Cut);
        if (Cut)
            throw ETransferError("the run was interrupted");
    }

private:
    std::string MapName() const { return Request.File + ".map"; }
    bool Interrupted() const { return Options.Interrupted && *Options.Interrupted; }
    std::span<uint8_t> SectorData(int64_t Sector)
    {
        return {Dump.data() + Sector * SectorBytes, size_t(SectorBytes)};
    }

    std::string ReadWhole(const std::string& Name, const std::string& What)
    {
        const TFileHandle File = Files.OpenRegular(Name, O_RDONLY, What, "opened");
        std::string Text;
        // Past the limit the size check below refuses it.
        if (ReadAll(File.Get(), LargestDiskBytes * 2,
                    [&Text](const char* Bytes, size_t Count) { Text.append(Bytes, Count); }) < 0)
            throw ETransferError(What + " cannot be read: " + std::strerror(errno));
        return Text;
    }

    void LoadEarlierPasses()
    {
        const std::string What = "the map " + MapName();
        try {
            Map = TRescueMap::Parse(ReadWhole(MapName(), What), Request.DumpBytes());
        } catch (const EMapError& E) {
            throw ETransferError(What + " is damaged: " + E.what());
        }
        const std::string Earlier = ReadWhole(Request.File, "the dump file " + Request.File);
        if (int64_t(Earlier.size()) != Request.DumpBytes())
            throw ETransferError("the dump file " + Request.File + " holds " +
                                 std::to_string(Earlier.size()) + " bytes, not the " +
                                 std::to_string(Request.DumpBytes()) + " of this diskette");
        std::copy(Earlier.begin(), Earlier.end(), Dump.begin());
    }

    // One sector, with Attempts reads at most; false when none succeeded.
    bool ReadOneSector(int64_t Sector, std::span<uint8_t> Into, int Attempts)
    {
        for (int Attempt = 1; Attempt <= Attempts; ++Attempt) {
            if (Attempt > 1) {
                if (Interrupted())
                    return false;
                Medium.MoveHeadAway(Sector * SectorBytes);
            }
            try {
                Medium.ReadSector(Sector * SectorBytes, Into);
                return true;
            } catch (const EMediumError&) {
            }
        }
        return false;
    }

    void CheckSameDiskette()
    {
        for (int Track = 0; Track < Request.Tracks; ++Track) {
            const int64_t First = Track * TrackSectors;
            // One read of the whole track where it reads; sector by sector where it does not.
            std::vector<uint8_t> Now(size_t(Request.TrackBytes()));
            bool WholeTrack = true;
            try {
                Medium.Read(First * SectorBytes, Now);
            } catch (const EMediumError&) {
                WholeTrack = false;
            }
            int Earlier = 0;
            int Compared = 0;
            for (int64_t S = First; S < First + TrackSectors; ++S) {
                if (!Map.Finished(S))
                    continue;
                ++Earlier;
                const std::span<uint8_t> Sector(Now.data() + (S - First) * SectorBytes,
                                                size_t(SectorBytes));
                if (!WholeTrack && !ReadOneSector(S, Sector, std::max(1, Options.ReadAttempts)))
                    continue;
                if (!std::equal(Sector.begin(), Sector.end(), SectorData(S).begin()))
                    throw ETransferError(
                        "the diskette in drive " + std::string(1, Request.Drive) +
                        ": is not the one the earlier passes read: sector " + std::to_string(S) +
                        " (track " + std::to_string(Track) + ") differs from the image");
                ++Compared;
            }
            if (Earlier == 0)
                continue;
            if (Compared == 0)
                throw ETransferError(
                    "the diskette in drive " + std::string(1, Request.Drive) +
                    ": cannot be told to be the one the earlier passes read: none of the sectors "
                    "they read on track " + std::to_string(Track) + " reads now");
            return;
        }
        // Nothing was read before: nothing can be mixed up or lost.
    }

    // False when the run was interrupted.
    bool ReadTrack(int Track)
    {
        const int64_t First = Track * TrackSectors;
        const int64_t Last = First + TrackSectors;
        int64_t Untried = 0;
        for (int64_t S = First; S < Last; ++S)
            Untried += Map.Status(S) == MapUntried;
        if (Untried == TrackSectors && ReadWholeTrack(First))
            return !Interrupted();
        for (int64_t S = First; S < Last; ++S) {
            if (Map.Finished(S))
                continue;
            if (Interrupted())
                return false;
            // Into a scratch sector: a failed read must not touch what an earlier pass kept.
            std::vector<uint8_t> Sector(static_cast<size_t>(SectorBytes));
            if (ReadOneSector(S, Sector, 1 + Request.Retries)) {
                std::copy(Sector.begin(), Sector.end(), SectorData(S).begin());
                Map.Set(S, MapFinished);
            } else {
                Map.Set(S, MapBad);
            }
        }
        return !Interrupted();
    }

    bool ReadWholeTrack(int64_t First)
    {
        std::vector<uint8_t> Track(size_t(Request.TrackBytes()));
        for (int Attempt = 1; Attempt <= std::max(1, Options.ReadAttempts); ++Attempt) {
            if (Attempt > 1 && Interrupted())
                return false;
            try {
                Medium.Read(First * SectorBytes, Track);
            } catch (const EMediumError&) {
                continue;
            }
            std::copy(Track.begin(), Track.end(), SectorData(First).begin());
            for (int64_t S = First; S < First + TrackSectors; ++S)
                Map.Set(S, MapFinished);
            return true;
        }
        return false;
    }

    // The dump first: a map never marks finished what the dump beside it does not hold.
    void Save(bool Cut)
    {
        const std::string Bytes(Dump.begin(), Dump.end());
        if (const int Error = ReplaceFileWithText(Files.PathOf(Request.File), Bytes, 0644, true))
            throw ETransferError("the dump file " + Request.File + " cannot be written: " +
                                 std::strerror(Error));
        const std::string Text = Map.Text("Rastrel2.exe r " + Request.File + " " +
                                              std::to_string(Request.Tracks) + " " +
                                              Request.Drive + " " +
                                              std::to_string(Request.SectorsPerTrack) + " w " +
                                              std::to_string(Request.Retries),
                                          Cut ? MapUntried : MapFinished);
        if (const int Error = ReplaceFileWithText(Files.PathOf(MapName()), Text, 0644, true))
            throw ETransferError("the map " + MapName() + " cannot be written: " +
                                 std::strerror(Error));
    }

    const TTransferRequest& Request;
    const TExchangeFiles& Files;
    const TRunOptions& Options;
    TMedium& Medium;
    const int64_t TrackSectors;  // both sides of a track
    std::vector<uint8_t> Dump;
    TRescueMap Map;
};

}  // namespace

void RescueRead(const TTransferRequest& Request, const TExchangeFiles& Files,
                const TRunOptions& Options, TMedium& Medium)
{
    TRescue(Request, Files, Options, Medium).Run();
}
