// read --rescue end to end: the real program and helper on a diskette served by FUSE whose
// sectors fail on purpose, the maps judged by ddrescuelog; and a loop device for the block
// device path.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "CliTestSupport.h"
#include "tests/support/FailingDisk.h"
#include "tests/support/SampleDisk.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

constexpr size_t Disk144 = 1474560;

TFailingDiskOptions Faults(std::string Bad, std::string Weak = "", long DelayUs = 0)
{
    TFailingDiskOptions Options;
    Options.Bad = std::move(Bad);
    Options.Weak = std::move(Weak);
    Options.DelayUs = DelayUs;
    return Options;
}

class CliRescue : public ::testing::Test {
protected:
    TPrivateProfile Dir{"mwt-rescue"};
    std::unique_ptr<TFailingDisk> Disk;
    const std::vector<uint8_t> Source = MakeSampleDisk(Disk144, TSampleKind::Filled, 21);
    const std::string Image = Dir / "old.144";
    const std::string Map = Dir / "old.144.map";

    // The source diskette in drive A:, failing as Options say; false (the test skips) without FUSE.
    bool Serve(const TFailingDiskOptions& Options)
    {
        WriteBytes(Dir / "source.img", Source);
        Disk = std::make_unique<TFailingDisk>(FAILING_DISK_TOOL, Dir / "source.img", Dir / "mnt",
                                              Options);
        if (Disk->Mounted())
            Dir.LinkDrive('A', Disk->File());
        return Disk->Mounted();
    }
    TRun Run(const std::vector<std::string>& Args) { return RunTool(Dir, Args); }
    std::vector<uint8_t> DumpOf(const std::string& Of)
    {
        const std::string Raw = Dir / "unpacked.img";
        EXPECT_EQ(Run({"unpack", "-q", "-f", Of, Raw}).Code, 0);
        std::vector<uint8_t> Bytes = ReadBytes(Raw);
        fs::remove(Raw);
        return Bytes;
    }
    std::vector<uint8_t> SourceWithout(const std::vector<int>& Sectors) const
    {
        std::vector<uint8_t> Bytes = Source;
        for (int S : Sectors)
            std::fill_n(Bytes.begin() + S * 512, 512, 0);
        return Bytes;
    }
    // What ddrescuelog prints for its Options on the map.
    std::string Ddrescuelog(const std::string& Options)
    {
        const std::string Out = Dir / "ddrescuelog.txt";
        EXPECT_EQ(std::system(("ddrescuelog " + Options + " " + Quote(Map) + " >" + Quote(Out) +
                               " 2>&1").c_str()), 0);
        return ReadText(Out);
    }
};

#define SERVE_OR_SKIP(Options)                                                                    \
    if (!Serve(Options))                                                                           \
    GTEST_SKIP() << Disk->SkipReason()

TEST_F(CliRescue, KeepsWhatReadsNamesTheRestAndAResumeAfterHealingGivesTheWholeDiskette)
{
    // Sector 40 is 1/0/5; 70 to 75 run from the end of track 1 into track 2; 700 is weak and
    // comes back on its seventh read (four of the whole track, then the third of its own).
    SERVE_OR_SKIP(Faults("40,70-75", "700:6"));
    const TRun First = Run({"read", "-y", "A", Image, "--rescue"});
    EXPECT_EQ(First.Code, 3) << First.Err;
    EXPECT_TRUE(Contains(First.Err, "7 sectors could not be read (track/side/sector): 1/0/5, "
                                    "1/1/17-2/0/4\n")) << First.Err;
    EXPECT_TRUE(Contains(First.Err, Image + " is partial")) << First.Err;
    EXPECT_TRUE(Contains(First.Err, "the map " + Map)) << First.Err;
    EXPECT_TRUE(Contains(First.Out, "Wrote " + Image + " (partial)")) << First.Out;
    EXPECT_EQ(DumpOf(Image), SourceWithout({40, 70, 71, 72, 73, 74, 75}));

    // The outside reader agrees on where and how much.
    EXPECT_EQ(Ddrescuelog("-b512 --list-blocks=-"), "40\n70\n71\n72\n73\n74\n75\n");
    EXPECT_EQ(Ddrescuelog("-b512 --list-blocks=?"), "");
    EXPECT_TRUE(Contains(Ddrescuelog("--show-status"), "bad-sector:     3584 B,  in      2 area(s)"));

    // The same diskette read again, now well: nothing read before is lost, no -f is needed.
    Disk->Heal();
    const TRun Resume = Run({"read", "-y", "A", Image, "--rescue"});
    EXPECT_EQ(Resume.Code, 0) << Resume.Err;
    EXPECT_TRUE(Contains(Resume.Out, "Resuming")) << Resume.Out;
    EXPECT_EQ(DumpOf(Image), Source);
    EXPECT_FALSE(fs::exists(Map)) << "nothing is missing: no map";
}

TEST_F(CliRescue, ADamagedMapOrAnotherDisketteChangesNothing)
{
    SERVE_OR_SKIP(Faults("2000"));
    ASSERT_EQ(Run({"read", "-y", "-q", "A", Image, "--rescue", "--retries", "0"}).Code, 3);
    const std::vector<uint8_t> ImageBytes = ReadBytes(Image);
    const std::string MapText = ReadText(Map);

    WriteText(Map, MapText + "0x00168000  0x00000200  +\n");
    const TRun Damaged = Run({"read", "-y", "A", Image, "--rescue"});
    EXPECT_EQ(Damaged.Code, 1);
    EXPECT_TRUE(Contains(Damaged.Err, "the map " + Map + " is damaged: line ")) << Damaged.Err;
    EXPECT_TRUE(Contains(Damaged.Err, "nothing was changed")) << Damaged.Err;
    EXPECT_EQ(ReadBytes(Image), ImageBytes);

    // A 720KB diskette, and a 1.44MB one whose first track differs, are not the one read before.
    WriteText(Map, MapText);
    const std::string Small = Dir / "small.img";
    WriteBytes(Small, MakeSampleDisk(737280, TSampleKind::Filled, 2));
    std::vector<uint8_t> Changed = Source;
    Changed[3 * 512 + 9] ^= 1;
    WriteBytes(Dir / "other.img", Changed);
    for (const std::string& Other : {Small, Dir / "other.img"}) {
        Dir.LinkDrive('A', Other);
        const TRun Refused = Run({"read", "-y", "A", Image, "--rescue"});
        EXPECT_EQ(Refused.Code, 1);
        EXPECT_TRUE(Contains(Refused.Err, "not the diskette the image was read from") ||
                    Contains(Refused.Err, "is not the one the earlier passes read"))
            << Refused.Err;
        EXPECT_EQ(ReadBytes(Image), ImageBytes);
        EXPECT_EQ(ReadText(Map), MapText);
    }
}

TEST_F(CliRescue, ABadBootSectorIsReadWithTheFormatNamed)
{
    SERVE_OR_SKIP(Faults("0"));
    const TRun Read = Run({"read", "-y", "A", Image, "--format", "1.44MB", "--rescue"});
    EXPECT_EQ(Read.Code, 3) << Read.Err;
    EXPECT_TRUE(Contains(Read.Err, "1 sector could not be read (track/side/sector): 0/0/1\n"))
        << Read.Err;
    EXPECT_EQ(DumpOf(Image), SourceWithout({0}));
    EXPECT_EQ(Ddrescuelog("-b512 --list-blocks=-"), "0\n");
}

TEST_F(CliRescue, ABoxLogsAPartialDisketteWithItsCountAndItsOwnMap)
{
    SERVE_OR_SKIP(Faults("100-102"));
    const std::string Log = Dir / "box.csv";
    // q as soon as the first diskette is done.
    const std::string Line = "printf 'q\\n' | " + Quote(MARROWTIDE_IMG_PATH) + " read -q A --each " +
                             Quote(Dir / "box-{n}.144") + " --log " + Quote(Log) +
                             " --rescue >/dev/null 2>" + Quote(Dir / "err.txt");
    const int Status = std::system(Line.c_str());
    ASSERT_TRUE(WIFEXITED(Status));
    EXPECT_EQ(WEXITSTATUS(Status), 3) << ReadText(Dir / "err.txt");
    const std::string Text = ReadText(Log);
    EXPECT_TRUE(Contains(Text, ",partial,3\n")) << Text;
    EXPECT_EQ(ReadText(Dir / "box-1.144.map").empty(), false);
    EXPECT_EQ(DumpOf(Dir / "box-1.144"), SourceWithout({100, 101, 102}));
}

TEST_F(CliRescue, WithoutRescueAFailedReadSaysWhatWouldKeepTheReadableSectors)
{
    SERVE_OR_SKIP(Faults("40"));
    const TRun Read = Run({"read", "-y", "A", Image});
    EXPECT_EQ(Read.Code, 1);
    EXPECT_TRUE(Contains(Read.Err, "Bad sector?  Try running ScanDisk.")) << Read.Err;
    EXPECT_TRUE(Contains(Read.Err, "read again with --rescue to keep every sector that can be "
                                   "read")) << Read.Err;
    EXPECT_FALSE(fs::exists(Image));
}

TEST_F(CliRescue, CtrlCKeepsWhatWasReadAndAResumeGoesOn)
{
    // About 6 s for the whole diskette: the signal comes half-way.
    SERVE_OR_SKIP(Faults("", "", 2000));
    const std::string Line = "exec " + Quote(MARROWTIDE_IMG_PATH) + " read -y A " + Quote(Image) +
                             " --rescue >" + Quote(Dir / "out.txt") + " 2>" + Quote(Dir / "err.txt") +
                             " </dev/null";
    pid_t Pid = -1;
    const char* Argv[] = {"/bin/sh", "-c", Line.c_str(), nullptr};
    ASSERT_EQ(posix_spawn(&Pid, Argv[0], nullptr, nullptr, const_cast<char**>(Argv), environ), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ::kill(Pid, SIGINT);
    int Status = 0;
    ASSERT_EQ(::waitpid(Pid, &Status, 0), Pid);
    ASSERT_TRUE(WIFEXITED(Status));
    EXPECT_EQ(WEXITSTATUS(Status), 130) << ReadText(Dir / "err.txt");
    EXPECT_TRUE(Contains(ReadText(Dir / "err.txt"), "kept what was read in " + Image));
    const std::string Untried = Ddrescuelog("-b512 --list-blocks=?");
    EXPECT_FALSE(Untried.empty()) << "the part not tried is '?'";
    EXPECT_EQ(Ddrescuelog("-b512 --list-blocks=-"), "");
    const std::vector<uint8_t> Partial = DumpOf(Image);
    const size_t FirstUntried = std::stoul(Untried) * 512;
    EXPECT_GT(FirstUntried, 0u);
    EXPECT_TRUE(std::equal(Source.begin(), Source.begin() + FirstUntried, Partial.begin()));

    const TRun Resume = Run({"read", "-y", "A", Image, "--rescue"});
    EXPECT_EQ(Resume.Code, 0) << Resume.Err;
    EXPECT_EQ(DumpOf(Image), Source);
    EXPECT_FALSE(fs::exists(Map));
}

TEST(CliRescueLoop, ALoopDeviceIsReadAsABlockDevice)
{
    TPrivateProfile Dir{"mwt-rescue-loop"};
    const std::vector<uint8_t> Source = MakeSampleDisk(Disk144, TSampleKind::Filled, 5);
    WriteBytes(Dir / "source.img", Source);
    const std::string Device = Dir / "device.txt";
    if (std::system(("losetup -f --show -r " + Quote(Dir / "source.img") + " >" + Quote(Device) +
                     " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no loop device can be set up here (losetup needs root and /dev/loop*)";
    std::string Loop = ReadText(Device);
    Loop.erase(Loop.find_last_not_of("\n") + 1);
    Dir.LinkDrive('A', Loop);
    const TRun Read = RunTool(Dir, {"read", "-y", "-q", "A", Dir / "loop", "--rescue"});
    const TRun Unpack = RunTool(Dir, {"unpack", "-q", Dir / "loop.144", Dir / "loop.img"});
    EXPECT_EQ(std::system(("losetup -d " + Quote(Loop)).c_str()), 0);
    EXPECT_EQ(Read.Code, 0) << Read.Err;
    EXPECT_EQ(Unpack.Code, 0) << Unpack.Err;
    EXPECT_EQ(ReadBytes(Dir / "loop.img"), Source);
}

}  // namespace
