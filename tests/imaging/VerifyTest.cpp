// Verification end to end: the real helper reads a virtual diskette and the workflow compares
// it with the dump of an image, naming the sectors that differ.
#include <gtest/gtest.h>

#include "imaging/Imaging.h"
#include "platform/Files.h"
#include "tests/imaging/ImagingFixture.h"
#include "tests/support/SampleDisk.h"

using namespace imagingtest;

namespace {

// 720KB: 2 sides of 9 sectors; 2.88MB: 2 sides of 36.
TEST(DifferingSectors, NamesRunsOfSectorsByTrackSideAndSector)
{
    const Bytes Image(737280, 0);
    Bytes Disk = Image;
    for (size_t Sector : {0, 9, 10, 17, 18, 19})
        Disk[Sector * 512 + 511] = 1;
    Disk.back() = 1;
    EXPECT_EQ(DifferingSectors(Disk, Image, 3),
              (std::vector<std::string>{"0/0/1", "0/1/1-0/1/2", "0/1/9-1/0/2", "79/1/9"}));
    EXPECT_TRUE(DifferingSectors(Image, Image, 3).empty());
    Disk.assign(2949120, 0);
    Disk[73 * 512] = 1;
    EXPECT_EQ(DifferingSectors(Disk, Bytes(2949120, 0), 0), std::vector<std::string>{"1/0/2"});
}

class VerifyTest : public TWorkflowTest<> {
protected:
    // Verifies the image packed from Dump against Disk in A:; true when the run agreed.
    bool Verify(const Bytes& Dump, const Bytes& Disk)
    {
        InsertBytes('A', Disk);
        State.ImagePath = MakeImageFile("verify.img", Dump).string();
        Port.Answers = {TModalResult::OK};
        Imaging->VerifyDiskette();
        const bool Ended = FinishRun();
        EXPECT_FALSE(FileExists(Work("temp.del")));
        EXPECT_FALSE(FileExists(Work("image.del")));
        return Ended && Port.Text(TLabel::Messages) == "The Diskette matches the Image.";
    }
};

TEST_F(VerifyTest, AgreesWithItsOwnDisketteAndNamesAChangedSector)
{
    const Bytes Dump = MakeSampleDisk(1474560, TSampleKind::Filled, 3);
    EXPECT_TRUE(Verify(Dump, Dump));

    Bytes Changed = Dump;
    Changed[1000 * 512 + 17] ^= 0x55;  // sector 1000: track 27, side 1, sector 11
    EXPECT_FALSE(Verify(Dump, Changed));
    ASSERT_FALSE(Port.Shown.empty());
    EXPECT_EQ(Port.Shown.back().Detail, "27/1/11");
    EXPECT_EQ(Port.Text(TLabel::Status), " Status: Error!");
}

TEST_F(VerifyTest, ADisketteOfAnotherFormatIsNamedNotCompared)
{
    const Bytes Dump = MakeSampleDisk(737280, TSampleKind::Filled, 4);
    EXPECT_FALSE(Verify(Dump, MakeSampleDisk(1474560, TSampleKind::Filled, 4)));
    ASSERT_FALSE(Port.Shown.empty());
    EXPECT_EQ(Port.Shown.back().Text, "The Diskette is 1.44MB, the Image 720KB.");
}

}  // namespace
