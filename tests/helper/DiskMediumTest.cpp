// Whole runs on virtual diskettes (image files) reached through the drive table.
#include "HelperTestSupport.h"

#include "helper/DiskMedium.h"
#include "helper/Transfer.h"
#include "tests/support/SampleDisk.h"

using namespace HelperTest;

namespace {

class DiskMediumTest : public THelperFixture {
protected:
    std::string Image(const std::string& Name, const std::vector<uint8_t>& Bytes) const
    {
        const std::string Path = Root + "/" + Name;
        WriteBytes(Path, Bytes);
        return Path;
    }
    int Run(const std::string& Parameters)
    {
        StartRun();
        const int Status = RunHelper(Parameters, WorkDir);
        EXPECT_FALSE(Exists(Work("working.dat")));
        return Status;
    }
    std::string ErrorText() const { return ReadText(Work("error.dat")); }
};

TEST_F(DiskMediumTest, ReadsAndWritesAVirtualDiskette)
{
    // A 1.2MB medium holds its tracks; its dump is longer.
    const auto Disk = MakeSampleDisk(1231872);
    const std::vector<uint8_t> Tracks(Disk.begin(), Disk.begin() + 1228800);
    const std::string Path = Image("a.img", Tracks);
    LinkDrive('A', Path);
    ASSERT_EQ(Run("i temp.del 80 A 15 w"), 0) << ErrorText();
    auto Expected = Tracks;
    Expected.resize(1231872, 0);
    EXPECT_EQ(ReadBytes(Work("temp.del")), Expected);

    WriteBytes(Path, std::vector<uint8_t>(1228800, 0xf6));
    ASSERT_EQ(Run("d temp.del 80 a 15 w"), 0) << ErrorText();
    EXPECT_EQ(ReadBytes(Path), Tracks);
}

TEST_F(DiskMediumTest, AVirtualDisketteKeepsItsSize)
{
    const auto Small = MakeSampleDisk(737280, TSampleKind::Random, 5);
    const std::string Path = Image("small.img", Small);
    LinkDrive('A', Path);
    WriteBytes(Work("temp.del"), MakeSampleDisk(1474560));
    EXPECT_EQ(Run("d temp.del 80 A 18 w"), 1);
    EXPECT_EQ(ErrorText(), "the diskette in drive A: is too small: it holds 737280 bytes, "
                           "80 tracks of 18 sectors need 1474560\r\n");
    EXPECT_EQ(ReadBytes(Path), Small) << "the diskette was changed or made longer";

    EXPECT_EQ(Run("i temp.del 80 A 18 w"), 1);
    EXPECT_EQ(ErrorText(), "the diskette in drive A: holds fewer tracks than asked: it holds "
                           "737280 bytes, 80 tracks of 18 sectors need 1474560\r\n");
}

TEST_F(DiskMediumTest, AReadOnlyImageIsWriteProtected)
{
    const auto Disk = MakeSampleDisk(737280);
    const std::string Path = Image("ro.img", Disk);
    ASSERT_EQ(::chmod(Path.c_str(), 0444), 0);
    LinkDrive('B', Path);
    WriteBytes(Work("temp.del"), MakeSampleDisk(737280, TSampleKind::Random));
    EXPECT_EQ(Run("d temp.del 40 B 18 w"), 1);
    EXPECT_EQ(ErrorText(), "the diskette in drive B: (" + Path + ") is write-protected\r\n");
    EXPECT_EQ(ReadBytes(Path), Disk);

    ASSERT_EQ(Run("i temp.del 40 B 18 w"), 0) << "reading stays possible";
    EXPECT_EQ(ReadBytes(Work("temp.del")), Disk);
}

TEST_F(DiskMediumTest, WhatIsNoDisketteIsRefused)
{
    const std::string Empty = Image("empty.img", {});
    const std::string Large = Image("large.img", std::vector<uint8_t>(2949120 + 512));
    const std::string Missing = Root + "/missing.img";
    struct TCase {
        std::string Target;
        std::string Error;
    };
    for (const TCase& Case :
         {TCase{Empty, "there is no diskette in drive A: (" + Empty + ")"},
          TCase{Large, "drive A: (" + Large + ") holds 2949632 bytes, more than any diskette; "
                       "it is refused"},
          TCase{Missing, "drive A: (" + Missing + ") does not exist"},
          TCase{Root, "drive A: (" + Root + ") is neither a diskette drive nor an image file"}}) {
        SCOPED_TRACE(Case.Target);
        LinkDrive('A', Case.Target);
        for (const char* Parameters : {"i temp.del 80 A 18 w", "d temp.del 1 A 18 w"}) {
            WriteBytes(Work("temp.del"), MakeSampleDisk(1474560));
            EXPECT_EQ(Run(Parameters), 1);
            EXPECT_EQ(ErrorText(), Case.Error + "\r\n");
        }
    }
    EXPECT_EQ(ReadBytes(Large), std::vector<uint8_t>(2949632)) << "the large file was written";

    EXPECT_EQ(Run("i temp.del 80 Q 18 w"), 1);
    EXPECT_EQ(ErrorText(), "drive Q: is not available\r\n");
}

// Reads of one virtual diskette share it; a write has it alone for its whole run, and whoever
// holds it open keeps it (a helper its program left behind too: the lock goes with the file).
TEST_F(DiskMediumTest, AVirtualDisketteIsLockedForTheWholeRun)
{
    const auto Disk = MakeSampleDisk(737280);
    const std::string Path = Image("a.img", Disk);
    LinkDrive('A', Path);
    const std::string Written = "drive A: (" + Path + ") is in use by another run; a diskette "
                                "in use is not written\r\n";
    WriteBytes(Work("temp.del"), MakeSampleDisk(737280, TSampleKind::Random));
    {
        const auto Writer = OpenDrive('A', true, 3);
        EXPECT_EQ(Run("d temp.del 40 A 18 w"), 1);
        EXPECT_EQ(ErrorText(), Written);
        EXPECT_EQ(Run("i temp.del 40 A 18 w"), 1);
        EXPECT_EQ(ErrorText(), "drive A: (" + Path + ") is being written by another run; a "
                               "diskette in use is not read\r\n");
    }
    {
        const auto Reader = OpenDrive('A', false, 3);
        EXPECT_EQ(Run("d temp.del 40 A 18 w"), 1);
        EXPECT_EQ(ErrorText(), Written);
        EXPECT_EQ(ReadBytes(Path), Disk);
        EXPECT_EQ(Run("i temp.del 40 A 18 w"), 0) << ErrorText();
    }
}

TEST_F(DiskMediumTest, AFileRemovedOrReplacedWhileWrittenFailsTheWrite)
{
    const auto Disk = MakeSampleDisk(737280);
    for (const bool Replaced : {false, true}) {
        const std::string Path = Image("a.img", Disk);
        const auto Medium = TDiskMedium::Open(Path, 'A', true);
        Medium->Write(0, std::span<const uint8_t>(Disk.data(), 512));
        Medium->Flush();
        if (Replaced) {
            WriteBytes(Root + "/other.img", Disk);
            ASSERT_EQ(::rename((Root + "/other.img").c_str(), Path.c_str()), 0);
        } else {
            ASSERT_EQ(::unlink(Path.c_str()), 0);
        }
        try {
            Medium->Flush();
            ADD_FAILURE() << "the write went on into a file that is gone";
        } catch (const EMediumError& E) {
            EXPECT_EQ(std::string(E.what()),
                      "the image file " + Path + " was removed or replaced while it was being written");
        }
    }
}

}  // namespace
