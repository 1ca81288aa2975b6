// The drive table and virtual diskette commands, end to end, with a private XDG_CONFIG_HOME.
// Blank diskettes are cross-checked by Debian's own FAT tools.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CliTestSupport.h"
#include "cli/DiskCommands.h"
#include "cli/Options.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

class CliDisk : public ::testing::Test {
protected:
    TPrivateProfile Dir{"mwt-cli"};
};

TEST(CliDiskArgs, FormatNamesAndUsage)
{
    EXPECT_EQ(FormatIndexOfName("2.88MB"), 0);
    EXPECT_EQ(FormatIndexOfName("1.44mb"), 1);
    EXPECT_EQ(FormatIndexOfName(".144"), 1);
    EXPECT_EQ(FormatIndexOfName("1.2MB"), 2);
    EXPECT_EQ(FormatIndexOfName("720k"), 3);
    EXPECT_EQ(FormatIndexOfName("360KB"), 4);
    EXPECT_EQ(FormatIndexOfName("1.68MB"), 6);
    EXPECT_EQ(FormatIndexOfName("dmf"), 6);
    EXPECT_EQ(FormatIndexOfName("1720k"), 7);
    EXPECT_EQ(FormatIndexOfName("0.32mb"), 8);
    EXPECT_EQ(FormatIndexOfName("180"), 9);
    EXPECT_EQ(FormatIndexOfName("160KB"), 10);
    EXPECT_EQ(FormatIndexOfName("Unknown Format"), -1);
    EXPECT_EQ(FormatIndexOfName("1.3MB"), -1);
    EXPECT_EQ(FormatIndexOfName(""), -1);

    TOptions Drive = ParseArgs({"drive", "b:", "--clear"});
    EXPECT_EQ(Drive.Command, TCommandKind::Drive);
    EXPECT_EQ(Drive.DriveLetter, 'B');
    EXPECT_TRUE(Drive.DriveClear);
    EXPECT_TRUE(ParseArgs({"drive", "list"}).DriveListing);
    EXPECT_EQ(ParseArgs({"drive", "A", "disk.img"}).Output, "disk.img");
    EXPECT_EQ(ParseArgs({"format", "720KB", "x.img"}).FormatIndex, 3);
    for (const std::vector<std::string>& Bad :
         std::vector<std::vector<std::string>>{{"drive"},
                                               {"drive", "AB", "x"},
                                               {"drive", "1", "x"},
                                               {"drive", "A", "--bogus"},
                                               {"drive", "A"},
                                               {"format", "1.44MB"},
                                               {"format", "1.7MB", "x.img"}})
        EXPECT_THROW(ParseArgs(Bad), EUsage) << Bad.size();
}

TEST_F(CliDisk, FormatMakesDisketteDebianToolsAccept)
{
    const char* Names[] = {"2.88MB", "1.44MB", "1.2MB", "720KB", "360KB"};
    const uintmax_t Sizes[] = {2949120, 1474560, 1228800, 737280, 368640};
    const char* Free[] = {"2 931 712", "1 457 664", "1 213 952", "730 112", "362 496"};
    for (int i = 0; i < 5; ++i) {
        std::string Image = Dir / (std::string(Names[i]) + ".img");
        TRun Run = RunTool(Dir, {"format", Names[i], Image});
        ASSERT_EQ(Run.Code, 0) << Run.Err;
        EXPECT_TRUE(Contains(Run.Out, std::string("blank ") + Names[i])) << Run.Out;
        EXPECT_EQ(fs::file_size(Image), Sizes[i]);
        if (*FSCK_FAT) {
            std::string Check = std::string(FSCK_FAT) + " -n " + Quote(Image) + " >/dev/null";
            EXPECT_EQ(std::system(Check.c_str()), 0) << Names[i];
        }
        if (*MDIR) {
            std::string Listing = Dir / "mdir.txt";
            EXPECT_EQ(std::system((std::string(MDIR) + " -i " + Quote(Image) + " :: >" + Quote(Listing) + " 2>&1").c_str()), 0);
            EXPECT_TRUE(Contains(ReadText(Listing), Free[i])) << ReadText(Listing);
        }
    }
    // An existing file is replaced only with -f, through a link as pack does.
    std::string Existing = Dir / "keep.img";
    WriteBytes(Existing, {1, 2, 3});
    TRun Again = RunTool(Dir, {"format", "1.44MB", Existing});
    EXPECT_EQ(Again.Code, 1);
    EXPECT_EQ(Again.Err, "marrowtide-img: " + Existing + ": already exists; use -f to overwrite\n");
    EXPECT_EQ(ReadBytes(Existing), (std::vector<uint8_t>{1, 2, 3}));
    std::filesystem::create_symlink(Existing, Dir / "link.img");
    EXPECT_EQ(RunTool(Dir, {"format", "-f", "720KB", Dir / "link.img"}).Code, 0);
    EXPECT_EQ(ReadBytes(Existing).size(), 737280u);
    EXPECT_TRUE(std::filesystem::is_symlink(Dir / "link.img"));
    EXPECT_EQ(RunTool(Dir, {"format", "1.44MB", Dir / "no/such/folder.img"}).Code, 1);
}

// A format cut short (here by the file size limit) leaves no file, and a drive takes no file of
// a size no diskette has.
TEST_F(CliDisk, AFormatCutShortLeavesNothingADriveWouldTake)
{
    const std::string Image = Dir / "cut.img";
    const std::string Limited = "ulimit -f 100; exec " + Quote(MARROWTIDE_IMG_PATH) +
                                " format 1.44MB " + Quote(Image) + " 2>/dev/null";
    EXPECT_NE(std::system(("sh -c " + Quote(Limited)).c_str()), 0);
    EXPECT_FALSE(fs::exists(Image));
    for (const auto& Entry : fs::directory_iterator(Dir.Path()))
        EXPECT_FALSE(Entry.path().filename().string().starts_with(".")) << Entry.path();

    WriteBytes(Dir / "short.img", std::vector<uint8_t>(102400));
    TRun Drive = RunTool(Dir, {"drive", "A", Dir / "short.img"});
    EXPECT_EQ(Drive.Code, 1);
    EXPECT_TRUE(Contains(Drive.Err, "holds 102400 bytes, the size of no diskette")) << Drive.Err;
    EXPECT_TRUE(Contains(RunTool(Dir, {"drive", "list"}).Out, "A: not available"));
}

TEST_F(CliDisk, DriveTableSetListAndClear)
{
    std::string Image = Dir / "boot.144";
    ASSERT_EQ(RunTool(Dir, {"format", "1.44MB", Image}).Code, 0);

    TRun Set = RunTool(Dir, {"drive", "a", Image});
    ASSERT_EQ(Set.Code, 0) << Set.Err;
    EXPECT_EQ(Set.Out, "A: " + Image + " (drive table, volume of 1457664 bytes)\n");

    TRun Missing = RunTool(Dir, {"drive", "B", Dir / "later.img"});
    EXPECT_EQ(Missing.Code, 0);
    EXPECT_TRUE(Contains(Missing.Out, "(drive table, missing)")) << Missing.Out;

    TRun List = RunTool(Dir, {"drive", "list"});
    EXPECT_EQ(List.Code, 0);
    EXPECT_TRUE(Contains(List.Out, "Drive table: " + (Dir / "config") + "/marrowtide/dosdevices/"));
    EXPECT_TRUE(Contains(List.Out, "A: " + Image + " (drive table, volume of 1457664 bytes)\n"));
    EXPECT_TRUE(Contains(List.Out, "B: " + (Dir / "later.img") + " (drive table, missing)\n"));

    TRun Clear = RunTool(Dir, {"drive", "B", "--clear"});
    EXPECT_EQ(Clear.Code, 0);
    EXPECT_TRUE(Contains(Clear.Out, "B: removed from the drive table")) << Clear.Out;
    EXPECT_FALSE(fs::is_symlink(Dir / "config/marrowtide/dosdevices/b:"));
    EXPECT_TRUE(fs::is_symlink(Dir / "config/marrowtide/dosdevices/a:"));
}

}  // namespace
