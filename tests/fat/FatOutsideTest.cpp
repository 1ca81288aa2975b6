// The reader against volumes made by mkfs.fat and mcopy, judged clean by fsck.fat, and read
// back by mdir and mcopy: the same paths, sizes, contents, times, label, serial and free space.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "fat/FatVolume.h"

namespace fs = std::filesystem;

namespace {

// Runs a shell command, which must succeed; its standard output.
std::string Shell(const std::string& Command)
{
    std::string Out;
    FILE* Pipe = ::popen(("MTOOLS_SKIP_CHECK=1 " + Command).c_str(), "r");
    char Buffer[4096];
    for (size_t Got; Pipe && (Got = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;)
        Out.append(Buffer, Got);
    const int Status = Pipe ? ::pclose(Pipe) : -1;
    EXPECT_EQ(Status, 0) << Command;
    return Out;
}

std::string Quote(const std::string& Text) { return "'" + Text + "'"; }

std::vector<uint8_t> ReadAll(const fs::path& Path)
{
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& Path, size_t Size, std::mt19937& Random)
{
    std::string Bytes(Size, 0);
    for (char& C : Bytes)
        C = static_cast<char>(Random() % 7 ? 'a' + Random() % 26 : Random());
    std::ofstream(Path, std::ios::binary) << Bytes;
}

class FatOutside : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!*MKFS_FAT || !*FSCK_FAT || !*MCOPY)
            GTEST_SKIP() << "mkfs.fat, fsck.fat or mtools is not installed";
        Dir = fs::temp_directory_path() /
              ("fat-outside-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir / "src");
        Image = (Dir / "disk.img").string();
    }
    void TearDown() override
    {
        if (!HasFailure() && !Dir.empty())
            fs::remove_all(Dir);
    }

    // Files with long and short names in Folders nested folders, Count in all, of sizes around
    // the cluster and sector boundaries and a few larger ones.
    void MakeTree(int Count, int Folders, size_t Largest)
    {
        std::mt19937 Random(Count);
        std::vector<fs::path> Places{Dir / "src"};
        for (int i = 0; i < Folders; ++i) {
            Places.push_back(Places[Random() % Places.size()] /
                             (i % 2 ? "Folder number " + std::to_string(i) : "DIR" + std::to_string(i)));
            fs::create_directories(Places.back());
        }
        const size_t Sizes[] = {0, 1, 511, 512, 513, 1024, 1025, 2048, 4097};
        for (int i = 0; i < Count; ++i) {
            const std::string Name = i % 3 == 0   ? "F" + std::to_string(i) + ".TXT"
                                     : i % 3 == 1 ? "a rather long file name " + std::to_string(i) + ".text"
                                                  : "mixed.Case" + std::to_string(i);
            const size_t Size = i % 10 == 9 ? Random() % Largest : Sizes[Random() % 9];
            WriteFile(Places[Random() % Places.size()] / Name, Size, Random);
        }
        // Times mcopy -m carries into the image (even seconds: the FAT keeps no odd ones).
        int Step = 0;
        for (const auto& Item : fs::recursive_directory_iterator(Dir / "src"))
            if (Item.is_regular_file()) {
                const std::string Digit = std::to_string(Step % 10);
                Shell("touch -d '2019-0" + std::to_string(1 + Step % 9) + "-1" + Digit + " 1" +
                      Digit + ":34:56' " + Quote(Item.path()));
                ++Step;
            }
    }

    void Format(int Kilobytes, const std::string& Options = "")
    {
        Shell(std::string(MKFS_FAT) + " -C -n 'OUTSIDE' -i 2B3C4D5E " + Options + " " + Image +
              " " + std::to_string(Kilobytes) + " >/dev/null");
    }

    void CopyTree()
    {
        Shell("cd " + Quote((Dir / "src").string()) + " && " + MCOPY + " -s -m -i " + Image + " ./* ::/");
    }

    // mdir's free space.
    uint64_t OutsideFree()
    {
        const std::string Listing = Shell("mdir -i " + Image + " ::");
        const size_t End = Listing.rfind(" bytes free");
        size_t Start = Listing.rfind('\n', End) + 1;
        std::string Digits;
        for (; Start < End; ++Start)
            if (std::isdigit(static_cast<unsigned char>(Listing[Start])))
                Digits += Listing[Start];
        return std::stoull(Digits);
    }

    // Everything the outside tools say about the image is what the reader says.
    void CompareWithOutsideReaders()
    {
        Shell(std::string(FSCK_FAT) + " -n " + Image + " >/dev/null");
        const std::vector<uint8_t> Dump = ReadAll(Image);
        TFatVolume Volume(Dump);
        EXPECT_TRUE(Volume.Problems().empty()) << Volume.Problems().front();
        EXPECT_EQ(Volume.Label(), "OUTSIDE");
        EXPECT_EQ(Volume.SerialText(), "2B3C-4D5E");
        EXPECT_EQ(Volume.FreeBytes(), OutsideFree());

        // mdir -b lists the paths, a folder's with '/' at its end.
        std::set<std::string> Outside, Ours;
        const std::string Bare = Shell("mdir -b -/ -a -i " + Image + " ::");
        for (size_t At = 0, End; (End = Bare.find('\n', At)) != std::string::npos; At = End + 1)
            Outside.insert(Bare.substr(At + 3, End - At - 3));  // without "::/"
        for (const TFatEntry& Entry : Volume.Entries()) {
            EXPECT_TRUE(Entry.Problems.empty()) << Entry.Path << ": " << Entry.Problems.front();
            Ours.insert(Entry.Path + (Entry.IsDirectory() ? "/" : ""));
        }
        EXPECT_EQ(Ours, Outside);

        // mcopy's copies have the contents and times the reader gives.
        const fs::path Out = Dir / "mcopy";
        fs::create_directories(Out);
        Shell(std::string(MCOPY) + " -s -m -n -i " + Image + " '::*' " + Quote(Out.string()));
        size_t Files = 0;
        for (const TFatEntry& Entry : Volume.Entries()) {
            const fs::path Copy = Out / Entry.Path;
            ASSERT_TRUE(fs::exists(Copy)) << Entry.Path;
            if (Entry.IsDirectory())
                continue;
            ++Files;
            EXPECT_EQ(Volume.ReadFile(Entry), ReadAll(Copy)) << Entry.Path;
            struct stat Info {};
            ASSERT_EQ(::stat(Copy.c_str(), &Info), 0);
            EXPECT_EQ(FatTimeToUnix(Entry.Date, Entry.Time), Info.st_mtime) << Entry.Path;
        }
        EXPECT_GT(Files, 0u);
    }

    fs::path Dir;
    std::string Image;
};

}  // namespace

TEST_F(FatOutside, ManyFilesFoldersAndLongNamesOn144)
{
    MakeTree(300, 12, 40000);
    Format(1440);
    CopyTree();
    CompareWithOutsideReaders();
}

TEST_F(FatOutside, AFullDiskette720)
{
    MakeTree(40, 3, 20000);
    Format(720);
    CopyTree();
    std::mt19937 Random(7);
    WriteFile(Dir / "filler.bin", OutsideFree(), Random);
    Shell(std::string(MCOPY) + " -m -i " + Image + " " + Quote((Dir / "filler.bin").string()) + " ::/");
    EXPECT_EQ(OutsideFree(), 0u);
    CompareWithOutsideReaders();
}

TEST_F(FatOutside, The288And360Formats)
{
    MakeTree(120, 6, 200000);
    Format(2880);
    CopyTree();
    CompareWithOutsideReaders();
    EXPECT_EQ(TFatVolume(ReadAll(Image)).Boot().TotalSectors, 5760u);

    fs::remove_all(Dir / "src");
    fs::remove_all(Dir / "mcopy");
    fs::remove(Image);
    fs::create_directories(Dir / "src");
    MakeTree(30, 2, 30000);
    Format(360);
    CopyTree();
    CompareWithOutsideReaders();
    EXPECT_EQ(TFatVolume(ReadAll(Image)).Boot().TotalSectors, 720u);
}

TEST_F(FatOutside, AFat16Volume)
{
    MakeTree(80, 4, 100000);
    Format(2880, "-F 16 -s 1");
    CopyTree();
    CompareWithOutsideReaders();
    EXPECT_EQ(TFatVolume(ReadAll(Image)).FatBits(), 16);
}
