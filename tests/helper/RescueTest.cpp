// Rescue runs through the library, on a medium in memory whose sectors fail on purpose.
#include "HelperTestSupport.h"

#include "helper/Transfer.h"
#include "platform/RescueMap.h"
#include "tests/support/SampleDisk.h"

#include <csignal>
#include <map>

using namespace HelperTest;

namespace {

constexpr int64_t Disk144 = 1474560;
constexpr int64_t TrackSectors = 36;  // both sides of a 1.44MB track

class TSectorFaults : public TMedium {
public:
    explicit TSectorFaults(std::vector<uint8_t> Initial) : Bytes(std::move(Initial)) {}
    int64_t Capacity() const override { return int64_t(Bytes.size()); }
    void Read(int64_t Offset, std::span<uint8_t> Data) override
    {
        ++Reads;
        if (InterruptAfter && Reads >= InterruptAfter && Interrupt)
            *Interrupt = 1;
        bool Fails = false;
        for (int64_t S = Offset / 512; S < (Offset + int64_t(Data.size())) / 512; ++S) {
            ++Touched[S];
            auto Found = FailuresLeft.find(S);
            if (Found != FailuresLeft.end() && Found->second != 0) {
                Fails = true;
                Found->second -= Found->second > 0;
            }
        }
        if (Fails)
            throw EMediumError("simulated read error");
        std::copy_n(Bytes.begin() + Offset, Data.size(), Data.begin());
    }
    void Write(int64_t, std::span<const uint8_t>) override { ADD_FAILURE() << "a rescue writes"; }
    void Flush() override {}
    void MoveHeadAway(int64_t) override { ++HeadMoves; }

    std::vector<uint8_t> Bytes;
    std::map<int64_t, int> FailuresLeft;  // sector -> failing reads to come (-1: always)
    std::map<int64_t, int> Touched;       // sector -> reads that covered it
    int Reads = 0;
    int HeadMoves = 0;
    int InterruptAfter = 0;
    volatile std::sig_atomic_t* Interrupt = nullptr;
};

class TMediumProxy : public TMedium {
public:
    explicit TMediumProxy(TMedium& Target) : Target(Target) {}
    int64_t Capacity() const override { return Target.Capacity(); }
    void Read(int64_t Offset, std::span<uint8_t> Data) override { Target.Read(Offset, Data); }
    void Write(int64_t Offset, std::span<const uint8_t> Data) override { Target.Write(Offset, Data); }
    void Flush() override { Target.Flush(); }
    void MoveHeadAway(int64_t Offset) override { Target.MoveHeadAway(Offset); }

private:
    TMedium& Target;
};

class RescueTest : public THelperFixture {
protected:
    int Run(TSectorFaults& Medium, int Retries = 5)
    {
        StartRun();
        TRunOptions Options;
        Options.Interrupted = &Interrupt;
        Options.OpenMedium = [&](char, bool, uint8_t) -> std::unique_ptr<TMedium> {
            return std::make_unique<TMediumProxy>(Medium);
        };
        return RunHelper("r temp.del 80 A 18 w " + std::to_string(Retries), WorkDir, Options);
    }
    TRescueMap Map() const { return TRescueMap::Parse(ReadText(Work("temp.del.map")), Disk144); }
    std::vector<uint8_t> Original = MakeSampleDisk(Disk144, TSampleKind::Filled, 3);
    volatile std::sig_atomic_t Interrupt = 0;
};

TEST_F(RescueTest, BadSectorsBecomeZerosAndTheMapNamesThemAlone)
{
    TSectorFaults Medium(Original);
    // One bad sector, a run across the boundary of tracks 1 and 2, a weak sector that gives in on
    // its tenth read (4 whole-track reads, then 1 + 5 retries) and one that needs an eleventh.
    Medium.FailuresLeft = {{40, -1}, {70, -1}, {71, -1}, {72, -1}, {73, -1}, {700, 9}, {900, 10}};
    EXPECT_EQ(Run(Medium), 0);
    EXPECT_FALSE(Exists(Work("error.dat"))) << "unreadable sectors are no failed run";

    std::vector<uint8_t> Expected = Original;
    for (int64_t S : {40, 70, 71, 72, 73, 900})
        std::fill_n(Expected.begin() + S * 512, 512, 0);
    EXPECT_EQ(ReadBytes(Work("temp.del")), Expected);
    const TRescueMap Map = this->Map();
    EXPECT_EQ(Map.Count(MapBad), 6);
    EXPECT_EQ(Map.Missing(), 6);
    for (int64_t S : {39, 41, 69, 74, 700})
        EXPECT_TRUE(Map.Finished(S)) << S;
    EXPECT_EQ(Medium.Touched[700], 10);
    EXPECT_EQ(Medium.Touched[900], 10);
    EXPECT_GE(Medium.HeadMoves, 5 * 6) << "the head moves between attempts";
    EXPECT_EQ(Medium.Touched[41], 4 + 1) << "a neighbour is read once on its own, not retried";
}

TEST_F(RescueTest, ResumeReadsOnlyWhatIsMissingAndKeepsWhatWasRead)
{
    TSectorFaults Medium(Original);
    Medium.FailuresLeft = {{40, -1}, {1000, -1}};
    ASSERT_EQ(Run(Medium), 0);

    // Sector 1000 now reads wrong, 40 reads again: a weak spot that came back.
    Medium.FailuresLeft = {{1000, -1}};
    Medium.Touched.clear();
    ASSERT_EQ(Run(Medium), 0);
    EXPECT_EQ(Medium.Touched[40], 1);
    EXPECT_EQ(Medium.Touched[500], 0) << "finished sectors are not read again";
    EXPECT_EQ(Medium.Touched[1000], 6);
    std::vector<uint8_t> Expected = Original;
    std::fill_n(Expected.begin() + 1000 * 512, 512, 0);
    EXPECT_EQ(ReadBytes(Work("temp.del")), Expected);
    EXPECT_EQ(Map().Missing(), 1);

    Medium.FailuresLeft.clear();
    ASSERT_EQ(Run(Medium), 0);
    EXPECT_EQ(ReadBytes(Work("temp.del")), Original);
    EXPECT_EQ(Map().Missing(), 0);
}

TEST_F(RescueTest, ResumeRefusesAnotherDisketteAndChangesNothing)
{
    TSectorFaults Medium(Original);
    Medium.FailuresLeft = {{2000, -1}};
    ASSERT_EQ(Run(Medium), 0);
    const std::vector<uint8_t> Dump = ReadBytes(Work("temp.del"));
    const std::string MapText = ReadText(Work("temp.del.map"));

    std::vector<uint8_t> Changed = Original;
    Changed[5 * 512 + 7] ^= 1;
    TSectorFaults Other(Changed);
    EXPECT_EQ(Run(Other), 1);
    EXPECT_NE(ReadText(Work("error.dat")).find("is not the one the earlier passes read"),
              std::string::npos) << ReadText(Work("error.dat"));
    EXPECT_EQ(ReadBytes(Work("temp.del")), Dump);
    EXPECT_EQ(ReadText(Work("temp.del.map")), MapText);

    // Its first track unreadable: it cannot be told to be the same diskette.
    for (int64_t S = 0; S < TrackSectors; ++S)
        Medium.FailuresLeft[S] = -1;
    EXPECT_EQ(Run(Medium), 1);
    EXPECT_NE(ReadText(Work("error.dat")).find("cannot be told"), std::string::npos);
}

TEST_F(RescueTest, AnInterruptedRunKeepsTheDumpAndMarksTheRestUntried)
{
    TSectorFaults Medium(Original);
    Medium.FailuresLeft = {{40, -1}};
    Medium.Interrupt = &Interrupt;
    Medium.InterruptAfter = 20;
    EXPECT_EQ(Run(Medium), 1);
    EXPECT_NE(ReadText(Work("error.dat")).find("interrupted"), std::string::npos);
    const TRescueMap Map = this->Map();
    EXPECT_EQ(Map.Status(40), MapBad);
    EXPECT_EQ(Map.Status(2879), MapUntried);
    EXPECT_TRUE(Map.Finished(0));
    const std::vector<uint8_t> Dump = ReadBytes(Work("temp.del"));
    EXPECT_TRUE(std::equal(Dump.begin(), Dump.begin() + 40 * 512, Original.begin()));

    Interrupt = 0;
    Medium.InterruptAfter = 0;
    Medium.FailuresLeft.clear();
    EXPECT_EQ(Run(Medium), 0);
    EXPECT_EQ(ReadBytes(Work("temp.del")), Original);
}

TEST_F(RescueTest, TheRescueCommandLineNamesItsRetries)
{
    EXPECT_EQ(ParseParameters("r temp.del 80 A 18 w 7").Retries, 7);
    for (const char* Parameters : {"r temp.del 80 A 18 w", "r temp.del 80 A 18 w x",
                                   "r temp.del 80 A 18 w 100", "i temp.del 80 A 18 w 5"})
        EXPECT_THROW(ParseParameters(Parameters), ECommandLineError) << Parameters;
}

}  // namespace
