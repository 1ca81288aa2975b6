// The read and write runs through the library, on a medium in memory that injects faults and
// plays the program's poller between transfers.
#include "HelperTestSupport.h"

#include "core/FormatTable.h"
#include "helper/Transfer.h"
#include "tests/support/SampleDisk.h"

#include <csignal>
#include <map>
#include <set>

using namespace HelperTest;

namespace {

class TFaultMedium : public TMedium {
public:
    TFaultMedium(std::vector<uint8_t> Initial, int64_t TrackBytes, std::string WorkDir)
        : Bytes(std::move(Initial)), TrackBytes(TrackBytes), WorkDir(std::move(WorkDir))
    {
    }
    int64_t Capacity() const override { return static_cast<int64_t>(Bytes.size()); }
    void Read(int64_t Offset, std::span<uint8_t> Data) override
    {
        const int Track = Check(Offset, Data.size());
        Log.push_back("R" + std::to_string(Track));
        ++ReadAttempts[Track];
        if (ReadFailures[Track] > 0) {
            --ReadFailures[Track];
            throw EMediumError("simulated read error");
        }
        std::copy_n(Bytes.begin() + Offset, Data.size(), Data.begin());
    }
    void Write(int64_t Offset, std::span<const uint8_t> Data) override
    {
        const int Track = Check(Offset, Data.size());
        Log.push_back("W" + std::to_string(Track));
        if (WriteFailures.count(Track))
            throw EMediumError("simulated write error");
        std::copy(Data.begin(), Data.end(), Bytes.begin() + Offset);
        if (CorruptOnWrite.count(Track))
            Bytes[Offset] ^= 0x5a;
    }
    void Flush() override { Log.push_back("F"); }

    // What the program's poller does once a second: take a new progress value.
    void Poll()
    {
        if (!Exists(WorkDir + "/check.dat"))
            return;
        const std::string Status = ReadText(WorkDir + "/Status.dat");
        EXPECT_TRUE(Status.size() >= 3 && Status.ends_with("\r\n")) << "'" << Status << "'";
        Progress.push_back(std::stoi(Status));
        ::unlink((WorkDir + "/check.dat").c_str());
    }

    std::vector<uint8_t> Bytes;
    std::map<int, int> ReadFailures;  // track -> failures still to come
    std::map<int, int> ReadAttempts;
    std::set<int> WriteFailures, CorruptOnWrite;
    std::vector<std::string> Log;
    std::vector<int> Progress;

private:
    int Check(int64_t Offset, size_t Size)
    {
        Poll();
        EXPECT_EQ(Offset % SectorBytes, 0);
        EXPECT_EQ(Size % SectorBytes, 0u);
        if (Offset + static_cast<int64_t>(Size) > Capacity())
            throw EMediumError("beyond the end");
        return static_cast<int>(Offset / TrackBytes);
    }
    int64_t TrackBytes;
    std::string WorkDir;
};

// Hands the run a medium the test keeps.
class TMediumProxy : public TMedium {
public:
    explicit TMediumProxy(TMedium& Target) : Target(Target) {}
    int64_t Capacity() const override { return Target.Capacity(); }
    void Read(int64_t Offset, std::span<uint8_t> Data) override { Target.Read(Offset, Data); }
    void Write(int64_t Offset, std::span<const uint8_t> Data) override { Target.Write(Offset, Data); }
    void Flush() override { Target.Flush(); }

private:
    TMedium& Target;
};

std::vector<int> Range(int From, int To)
{
    std::vector<int> Values;
    for (int I = From; I <= To; ++I)
        Values.push_back(I);
    return Values;
}

class TransferTest : public THelperFixture {
protected:
    // Runs Parameters on Medium as drive letter Letter; records how the medium was opened, and
    // as which format.
    int Run(const std::string& Parameters, TFaultMedium& Medium)
    {
        StartRun();
        TRunOptions Options;
        Options.Interrupted = &Interrupt;
        Options.OpenMedium = [&](char Letter, bool ForWriting,
                                 uint8_t Format) -> std::unique_ptr<TMedium> {
            Opened.push_back(std::string(1, Letter) + (ForWriting ? "w " : "r ") +
                             std::string(FormatTable[Format].FormatName));
            return std::make_unique<TMediumProxy>(Medium);
        };
        const int Status = RunHelper(Parameters, WorkDir, Options);
        Medium.Poll();
        EXPECT_FALSE(Exists(Work("working.dat")));
        return Status;
    }
    std::string ErrorText() const { return ReadText(Work("error.dat")); }

    std::vector<std::string> Opened;
    volatile std::sig_atomic_t Interrupt = 0;
};

std::string ParametersOf(char Op, const TFormatRow& Row, char Drive = 'A')
{
    return std::string(1, Op) + " temp.del " + std::string(Row.TracksText) + " " + Drive + " " +
           std::string(Row.SectorsText) + " w";
}

int64_t TracksBytesOf(const TFormatRow& Row) { return Row.Tracks * 2 * Row.SectorsPerTrack * 512; }

TEST_F(TransferTest, ReadsEveryFormatIntoADumpOfItsTableLength)
{
    for (const TFormatRow& Row : FormatTable) {
        if (!IsKnownFormat(Row.FormatIndex, true))
            continue;
        SCOPED_TRACE(std::string(Row.FormatName));
        auto Disk = MakeSampleDisk(static_cast<size_t>(TracksBytesOf(Row)));
        TFaultMedium Medium(Disk, TracksBytesOf(Row) / Row.Tracks, WorkDir);
        WriteBytes(Work("temp.del"), std::vector<uint8_t>(4000000, 0xee));  // longer, stale

        Opened.clear();
        ASSERT_EQ(Run(ParametersOf('i', Row), Medium), 0) << ErrorText();
        auto Expected = Disk;
        Expected.resize(static_cast<size_t>(Row.TotalBytes), 0);
        EXPECT_EQ(ReadBytes(Work("temp.del")), Expected);
        EXPECT_EQ(Medium.Progress, Range(1, Row.Tracks));
        EXPECT_EQ(ReadText(Work("Status.dat")), std::string(Row.TracksText) + "\r\n");
        EXPECT_FALSE(Exists(Work("error.dat")));
        EXPECT_EQ(Opened, std::vector<std::string>{"Ar " + std::string(Row.FormatName)});
    }
}

TEST_F(TransferTest, WritesEveryFormatFlushingAndVerifyingEachTrack)
{
    for (const TFormatRow& Row : FormatTable) {
        if (!IsKnownFormat(Row.FormatIndex, true))
            continue;
        SCOPED_TRACE(std::string(Row.FormatName));
        const int64_t TrackBytes = TracksBytesOf(Row) / Row.Tracks;
        auto Dump = MakeSampleDisk(static_cast<size_t>(Row.TotalBytes));
        WriteBytes(Work("temp.del"), Dump);
        TFaultMedium Medium(MakeSampleDisk(static_cast<size_t>(TracksBytesOf(Row)),
                                           TSampleKind::Random, 7),
                            TrackBytes, WorkDir);

        Opened.clear();
        ASSERT_EQ(Run(ParametersOf('d', Row, 'B'), Medium), 0) << ErrorText();
        Dump.resize(static_cast<size_t>(TracksBytesOf(Row)));
        EXPECT_TRUE(Medium.Bytes == Dump);
        EXPECT_EQ(Medium.Progress, Range(1, Row.Tracks));
        EXPECT_EQ(Opened, std::vector<std::string>{"Bw " + std::string(Row.FormatName)});
        std::vector<std::string> Expected;
        for (int Track = 0; Track < Row.Tracks; ++Track)
            for (const char* Step : {"W", "F", "R"})
                Expected.push_back(Step == std::string("F") ? "F" : Step + std::to_string(Track));
        EXPECT_EQ(Medium.Log, Expected);
    }
}

// The window writes 720KB as 80 tracks of 9 sectors; a one-track conversion run names no format.
TEST_F(TransferTest, WriteRunsTellTheOpenerTheirFormat)
{
    WriteBytes(Work("temp.del"), MakeSampleDisk(737280));
    TFaultMedium Medium(MakeSampleDisk(737280), 9216, WorkDir);
    ASSERT_EQ(Run("d temp.del 80 A 09 w", Medium), 0) << ErrorText();
    ASSERT_EQ(Run("d temp.del 1 A 18 w", Medium), 0) << ErrorText();
    EXPECT_EQ(Opened, (std::vector<std::string>{"Aw 720KB", "Aw Unknown Format"}));
}

TEST_F(TransferTest, ReadRetriesAFailedTrackThreeTimes)
{
    const auto Disk = MakeSampleDisk(1474560);
    TFaultMedium Medium(Disk, 18432, WorkDir);
    Medium.ReadFailures[7] = 3;
    ASSERT_EQ(Run("i temp.del 80 A 18 w", Medium), 0) << ErrorText();
    EXPECT_EQ(Medium.ReadAttempts[7], 4);
    EXPECT_EQ(ReadBytes(Work("temp.del")), Disk);

    TFaultMedium Failing(Disk, 18432, WorkDir);
    Failing.ReadFailures[7] = 4;
    EXPECT_EQ(Run("i temp.del 80 A 18 w", Failing), 1);
    EXPECT_EQ(Failing.ReadAttempts[7], 4);
    EXPECT_EQ(ErrorText(), "track 7 could not be read (4 attempts): simulated read error\r\n");
    EXPECT_FALSE(Exists(Work("temp.del"))) << "an incomplete dump stays behind";
    EXPECT_EQ(Failing.Progress, Range(1, 7));
}

TEST_F(TransferTest, WriteFailuresNameTheTrack)
{
    WriteBytes(Work("temp.del"), MakeSampleDisk(737280));
    TFaultMedium Corrupting(std::vector<uint8_t>(737280), 18432, WorkDir);
    Corrupting.CorruptOnWrite.insert(5);
    EXPECT_EQ(Run("d temp.del 40 A 18 w", Corrupting), 1);
    EXPECT_EQ(ErrorText(), "track 5 differs from the image after writing (verify failed)\r\n");
    EXPECT_EQ(Corrupting.Progress, Range(1, 5));

    TFaultMedium Refusing(std::vector<uint8_t>(737280), 18432, WorkDir);
    Refusing.WriteFailures.insert(3);
    EXPECT_EQ(Run("d temp.del 40 A 18 w", Refusing), 1);
    EXPECT_EQ(ErrorText(), "track 3 could not be written: simulated write error\r\n");

    TFaultMedium Unreadable(std::vector<uint8_t>(737280), 18432, WorkDir);
    Unreadable.ReadFailures[0] = 4;
    EXPECT_EQ(Run("d temp.del 40 A 18 w", Unreadable), 1);
    EXPECT_EQ(ErrorText(),
              "track 0 could not be read back after writing (4 attempts): simulated read error\r\n");
}

TEST_F(TransferTest, ConversionWritesOnlyTheFirstTrackInFourSteps)
{
    struct TCase {
        const char* Parameters;
        size_t DiskBytes;
        size_t TrackBytes;
    };
    for (const TCase& Case : {TCase{"d temp.del 1 A 18  w", 1474560, 18432},
                              TCase{"d temp.del 1 B 09 w", 368640, 9216}}) {
        SCOPED_TRACE(Case.Parameters);
        const auto Dump = MakeSampleDisk(737280);
        WriteBytes(Work("temp.del"), Dump);
        const auto Before = MakeSampleDisk(Case.DiskBytes, TSampleKind::Random, 3);
        TFaultMedium Medium(Before, static_cast<int64_t>(Case.TrackBytes), WorkDir);

        ASSERT_EQ(Run(Case.Parameters, Medium), 0) << ErrorText();
        auto Expected = Before;
        std::copy_n(Dump.begin(), Case.TrackBytes, Expected.begin());
        EXPECT_TRUE(Medium.Bytes == Expected);
        EXPECT_EQ(Medium.Progress, Range(0, 3));
        EXPECT_EQ(Medium.Log, (std::vector<std::string>{"W0", "W0", "W0", "W0", "F", "R0"}));
        EXPECT_EQ(ReadText(Work("Status.dat")), "3\r\n");
    }
}

TEST_F(TransferTest, ADumpShorterThanTheTracksIsNotWritten)
{
    WriteBytes(Work("temp.del"), MakeSampleDisk(1474560 - 512));
    TFaultMedium Medium(std::vector<uint8_t>(1474560, 0x11), 18432, WorkDir);
    EXPECT_EQ(Run("d temp.del 80 A 18 w", Medium), 1);
    EXPECT_EQ(ErrorText(), "the image file temp.del holds 1474048 bytes, fewer than 80 tracks of "
                           "18 sectors need (1474560 bytes)\r\n");
    EXPECT_TRUE(Medium.Log.empty());
    EXPECT_TRUE(Opened.empty());

    ::unlink(Work("temp.del").c_str());
    EXPECT_EQ(Run("d temp.del 80 A 18 w", Medium), 1);
    EXPECT_EQ(ErrorText(), "the image file temp.del cannot be opened: No such file or directory\r\n");
}

TEST_F(TransferTest, AStaleErrorFileIsRemovedFirst)
{
    TFaultMedium Medium(MakeSampleDisk(737280), 18432, WorkDir);
    WriteBytes(Work("error.dat"), {'o', 'l', 'd'});
    ASSERT_EQ(Run("i temp.del 40 A 18 w", Medium), 0);
    EXPECT_FALSE(Exists(Work("error.dat")));

    WriteBytes(Work("error.dat"), {'o', 'l', 'd'});
    ASSERT_EQ(Run("i temp.del 40 A 18", Medium), 2);
    EXPECT_EQ(ErrorText(), "bad command line \"i temp.del 40 A 18\": 5 fields instead of 6 "
                           "(expected: OP FILE TRACKS DRIVE SECTORS w)\r\n");
}

TEST_F(TransferTest, BadCommandLinesEndWithErrorFileAndStatusTwo)
{
    TFaultMedium Medium(std::vector<uint8_t>(1474560), 18432, WorkDir);
    for (const char* Parameters :
         {"", "i temp.del 80 A 18 w extra", "x temp.del 80 A 18 w", "i temp.del 0 A 18 w",
          "i temp.del -1 A 18 w", "i temp.del 8O A 18 w", "i temp.del 80 1 18 w",
          "i temp.del 80 AB 18 w", "i temp.del 80 A 00 w", "i temp.del 80 A 180 w",
          "i temp.del 80 A 18 x", "i temp.del 255 A 99 w", "i\ttemp.del 80 A 18 w"}) {
        SCOPED_TRACE(Parameters);
        EXPECT_EQ(Run(Parameters, Medium), 2);
        const std::string Error = ErrorText();
        EXPECT_TRUE(Error.starts_with("bad command line \"")) << Error;
        EXPECT_EQ(Error.find('\n'), Error.size() - 1) << "one line";
    }
    EXPECT_TRUE(Opened.empty());
    EXPECT_TRUE(Medium.Log.empty());
}

TEST_F(TransferTest, ParametersAcceptWhatTheProgramSends)
{
    // The program's initial texts carry a trailing blank, so fields may be two blanks apart.
    const TTransferRequest Write = ParseParameters("d temp.del 80  b 18  w");
    EXPECT_EQ(Write.Operation, 'd');
    EXPECT_EQ(Write.File, "temp.del");
    EXPECT_EQ(Write.Tracks, 80);
    EXPECT_EQ(Write.Drive, 'B');
    EXPECT_EQ(Write.SectorsPerTrack, 18);

    EXPECT_EQ(ParseParameters("I temp.del 40 z: 09 W").Drive, 'Z');
    // A pair outside the format table reads exactly its tracks.
    EXPECT_EQ(ParseParameters("i temp.del 80 A 09 w").DumpBytes(), 737280);
}

TEST_F(TransferTest, ProgressAndErrorFilesAppearInTheOrderThePollerNeeds)
{
    TFolderEvents Events(WorkDir);
    ASSERT_TRUE(Events.Ready());
    TFaultMedium Medium(MakeSampleDisk(737280), 18432, WorkDir);
    Medium.ReadFailures[2] = 4;
    EXPECT_EQ(Run("i temp.del 40 A 18 w", Medium), 1);

    // Status.dat arrives whole (renamed in) before each check.dat; error.dat is in place
    // before working.dat goes, and nothing happens after that.
    const auto Seen = Events.Take();
    std::vector<std::string> Relevant;
    for (const auto& Event : Seen)
        if (Event != "-check.dat" && Event != "+temp.del" && Event != "-temp.del")
            Relevant.push_back(Event);
    EXPECT_EQ(Relevant, (std::vector<std::string>{"+working.dat", "+Status.dat", "+check.dat",
                                                  "+Status.dat", "+check.dat", "+error.dat",
                                                  "-working.dat"}));
    ASSERT_FALSE(Seen.empty());
    EXPECT_EQ(Seen.back(), "-working.dat");
}

TEST_F(TransferTest, AnInterruptedRunFails)
{
    TFaultMedium Medium(MakeSampleDisk(737280), 18432, WorkDir);
    Interrupt = 1;
    EXPECT_EQ(Run("i temp.del 40 A 18 w", Medium), 1);
    EXPECT_EQ(ErrorText(), "the run was interrupted\r\n");
    EXPECT_EQ(Medium.Progress, Range(1, 1));
    EXPECT_FALSE(Exists(Work("temp.del")));
}

TEST_F(TransferTest, WithoutErrorFileWorkingFileStays)
{
    // error.dat cannot be replaced: removing working.dat would report success.
    ASSERT_EQ(::mkdir(Work("error.dat").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(Work("error.dat/keep").c_str(), 0700), 0);
    StartRun();
    EXPECT_EQ(RunHelper("i temp.del 40 A 18 w", WorkDir), 1);
    EXPECT_TRUE(Exists(Work("working.dat")));
}

}  // namespace
