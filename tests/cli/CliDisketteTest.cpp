// read, write and verify of virtual diskettes, end to end: the real program and its helper in a
// private profile (drive table, settings and working folder in a test folder).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "CliTestSupport.h"
#include "cli/Interrupts.h"
#include "core/FormatTable.h"
#include "tests/support/SampleDisk.h"
#include "tests/support/WaitFor.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

// The console tool and its helper start slowly on a busy machine.
constexpr std::chrono::seconds ToolLimit(30);

// A program running beside the test, its stdin a pipe the test holds, its output in files.
struct TChild {
    pid_t Pid = -1;
    int Input = -1;

    explicit TChild(const std::vector<std::string>& Command, const TTempDir& Dir)
    {
        std::string Line = "exec";
        for (const std::string& Arg : Command)
            Line += " " + Quote(Arg);
        Line += " >" + Quote(Dir / "stdout.txt") + " 2>" + Quote(Dir / "stderr.txt");
        int Pipe[2];
        EXPECT_EQ(::pipe2(Pipe, O_CLOEXEC), 0);
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_adddup2(&Actions, Pipe[0], 0);
        const char* Argv[] = {"/bin/sh", "-c", Line.c_str(), nullptr};
        EXPECT_EQ(posix_spawn(&Pid, Argv[0], &Actions, nullptr, const_cast<char**>(Argv), environ),
                  0);
        posix_spawn_file_actions_destroy(&Actions);
        ::close(Pipe[0]);
        Input = Pipe[1];
    }
    ~TChild()
    {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        if (Input >= 0)
            ::close(Input);
    }
    void Type(const std::string& Text)
    {
        EXPECT_EQ(::write(Input, Text.data(), Text.size()), ssize_t(Text.size()));
        ::close(Input);
        Input = -1;
    }
    // The exit status, or -1 when it did not end in time (it is then killed).
    int Wait()
    {
        int Status = 0;
        const bool Ended = WaitFor([&] { return ::waitpid(Pid, &Status, WNOHANG) == Pid; }, ToolLimit);
        if (!Ended)
            return -1;
        Pid = -1;
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    }
};

// Gone, or a zombie nobody reaps (the container's first process may not).
bool ProcessGone(pid_t Pid)
{
    if (::kill(Pid, 0) != 0)
        return true;
    const std::string Stat = ReadText("/proc/" + std::to_string(Pid) + "/stat");
    const size_t Close = Stat.rfind(')');
    return Close != std::string::npos && Stat.compare(Close, 3, ") Z") == 0;
}

class CliDiskette : public ::testing::Test {
protected:
    TPrivateProfile Dir{"mwt-diskette"};

    TRun Run(const std::vector<std::string>& Args) { return RunTool(Dir, Args); }

    // A used diskette of format Index in the file Name.
    std::string Diskette(const std::string& Name, int Index, uint32_t Seed)
    {
        const std::string Path = Dir / Name;
        const size_t Size = size_t(FormatTable[Index].TotalBytes);
        WriteBytes(Path, MakeSampleDisk(Size, TSampleKind::Filled, Seed));
        return Path;
    }
    std::string Blank(const std::string& Name, int Index)
    {
        const std::string Path = Dir / Name;
        EXPECT_EQ(Run({"format", std::string(FormatTable[Index].FormatName), Path}).Code, 0);
        return Path;
    }
    std::vector<uint8_t> DumpOf(const std::string& Image)
    {
        const std::string Raw = Dir / "unpacked.img";
        EXPECT_EQ(Run({"unpack", "-q", "-f", "--exact-size", Image, Raw}).Code, 0);
        std::vector<uint8_t> Bytes = ReadBytes(Raw);
        fs::remove(Raw);
        return Bytes;
    }
    std::vector<std::string> TempDels() const
    {
        std::vector<std::string> Found;
        for (const auto& Entry : fs::recursive_directory_iterator(Dir / "tmp"))
            if (Entry.path().filename() == "temp.del")
                Found.push_back(Entry.path());
        return Found;
    }
};

TEST_F(CliDiskette, EveryFormatReadsWritesAndVerifies)
{
    for (int Index = 0; Index < int(KnownFormatCount); ++Index) {
        const TFormatRow& Row = FormatTable[Index];
        SCOPED_TRACE(Row.FormatName);
        const std::string Source = Diskette("source.dsk", Index, 10 + Index);
        Dir.LinkDrive('A', Source);
        // An image name without extension gets the format's.
        const std::string Image = Dir / ("image" + std::string(Row.Extension));
        const TRun Read = Run({"read", "-y", "-q", "A", Dir / "image"});
        ASSERT_EQ(Read.Code, 0) << Read.Err;
        EXPECT_EQ(Read.Out + Read.Err, "");
        const std::vector<uint8_t> Dump = DumpOf(Image);
        ASSERT_EQ(Dump, ReadBytes(Source));

        // The 1.2MB and 360KB dumps run past the tracks a blank diskette has; the rest is theirs.
        const std::string Target = Blank("blank" + std::to_string(Index) + ".dsk", Index);
        const uintmax_t TrackBytes = fs::file_size(Target);
        Dir.LinkDrive('B', Target);
        const TRun Write = Run({"write", "-y", Image, "B"});
        ASSERT_EQ(Write.Code, 0) << Write.Err;
        EXPECT_TRUE(Contains(Write.Out, "Disk Complete.")) << Write.Out;
        EXPECT_EQ(ReadBytes(Target), std::vector<uint8_t>(Dump.begin(), Dump.begin() + TrackBytes));

        const TRun Same = Run({"verify", "-y", Image, "A"});
        EXPECT_EQ(Same.Code, 0) << Same.Err;
        EXPECT_TRUE(Contains(Same.Out, "The Diskette matches the Image.")) << Same.Out;

        // One byte changed in a sector on the second side, half-way in; the diskette's boot
        // sector tells how it lays out its sectors.
        const auto Word = [&Dump](size_t At) { return Dump[At] | Dump[At + 1] << 8; };
        const int PerTrack = Word(24), Heads = Word(26);
        const int Cylinders = Word(19) / (PerTrack * Heads);
        const int Sector = Cylinders / 2 * Heads * PerTrack + PerTrack + Index + 2;
        std::vector<uint8_t> Changed = Dump;
        Changed[size_t(Sector) * 512 + 100] ^= 0x5a;
        WriteBytes(Source, Changed);
        const TRun Differs = Run({"verify", "-y", "-q", Image, "A"});
        EXPECT_EQ(Differs.Code, 1);
        const std::string Name = std::to_string(Sector / (Heads * PerTrack)) + "/1/" +
                                 std::to_string(Sector % PerTrack + 1);
        EXPECT_EQ(Differs.Err,
                  "The Diskette differs from the Image in these sectors (track/side/sector):\n  " +
                      Name + "\n");
        fs::remove(Image);
    }
}

TEST_F(CliDiskette, SmallerImageOnlyWithConvert)
{
    Dir.LinkDrive('A', Diskette("small.dsk", 3, 7));
    const std::string Image = Dir / "small.720";
    ASSERT_EQ(Run({"read", "-y", "A", Image}).Code, 0);
    const std::vector<uint8_t> Dump = DumpOf(Image);
    const std::string Target = Blank("large.dsk", 1);
    const std::vector<uint8_t> Before = ReadBytes(Target);
    Dir.LinkDrive('B', Target);

    const TRun Refused = Run({"write", "-y", Image, "B"});
    EXPECT_EQ(Refused.Code, 1);
    EXPECT_TRUE(Refused.Err.starts_with("1.44MB -> 720KB ?\n")) << Refused.Err;
    EXPECT_TRUE(Contains(Refused.Err, "--convert")) << Refused.Err;
    EXPECT_EQ(ReadBytes(Target), Before);

    const TRun Converted = Run({"write", "-y", "--convert", Image, "B"});
    EXPECT_EQ(Converted.Code, 0) << Converted.Err;
    // The diskette keeps its size and now starts with the 720KB dump, which the drive sees.
    const std::vector<uint8_t> After = ReadBytes(Target);
    ASSERT_EQ(After.size(), Before.size());
    EXPECT_TRUE(std::equal(Dump.begin(), Dump.end(), After.begin()));
    EXPECT_TRUE(Contains(Run({"drive", "list"}).Out,
                         "B: " + Target + " (drive table, volume of 730112 bytes)"));
    EXPECT_EQ(Run({"verify", "-y", Image, "B"}).Code, 0);
}

TEST_F(CliDiskette, WithoutTerminalTheSafeAnswer)
{
    const std::string Source = Diskette("source.dsk", 3, 3);
    Dir.LinkDrive('A', Source);
    const TRun Asked = Run({"read", "A", Dir / "asked"});
    EXPECT_EQ(Asked.Code, 1);
    EXPECT_TRUE(Contains(Asked.Err, "give -y")) << Asked.Err;
    EXPECT_FALSE(fs::exists(Dir / "asked.720"));

    const std::string Existing = Dir / "old.720";
    WriteText(Existing, "old");
    const TRun Kept = Run({"read", "-y", "A", Existing});
    EXPECT_EQ(Kept.Code, 1);
    EXPECT_TRUE(Contains(Kept.Err, "-f")) << Kept.Err;
    EXPECT_EQ(ReadText(Existing), "old");
    EXPECT_EQ(Run({"read", "-y", "-f", "A", Existing}).Code, 0);
    EXPECT_EQ(DumpOf(Existing), ReadBytes(Source));

    const TRun NoDrive = Run({"read", "-y", "C", Dir / "c"});
    EXPECT_EQ(NoDrive.Code, 1);
    EXPECT_EQ(NoDrive.Err, "marrowtide-img: C: is no diskette drive: give A or B\n");
    const TRun Unset = Run({"read", "-y", "b:", Dir / "b"});
    EXPECT_EQ(Unset.Code, 1);
    EXPECT_TRUE(Unset.Err.starts_with("marrowtide-img: B: stands for no drive")) << Unset.Err;

    // A dump of no diskette's size, packed.
    const std::string Odd = Dir / "odd.img";
    WriteBytes(Odd, MakeDump(100000, 4));
    ASSERT_EQ(Run({"pack", "-q", Odd, Dir / "odd.mwi"}).Code, 0);
    const TRun Corrupt = Run({"write", "-y", Dir / "odd.mwi", "A"});
    EXPECT_EQ(Corrupt.Code, 1);
    EXPECT_TRUE(Contains(Corrupt.Err, "The image file is corrupt!")) << Corrupt.Err;
    EXPECT_EQ(ReadBytes(Source), MakeSampleDisk(737280, TSampleKind::Filled, 3));

    for (const std::vector<std::string>& Bad : std::vector<std::vector<std::string>>{
             {"read"}, {"read", "A", "x", "y"}, {"read", "A", "--log", "l.csv"}, {"write", Existing},
             {"verify", "-f", Existing, "A"}, {"write", "--each", "x", Existing, "A"}})
        EXPECT_EQ(Run(Bad).Code, 2) << Bad.size();
    EXPECT_EQ(Dir.Entries(), (std::vector<std::string>{"config", "home", "odd.img", "odd.mwi",
                                                       "old.720", "source.dsk", "tmp"}));
}

TEST_F(CliDiskette, BoxOfThreeWithLog)
{
    const std::vector<std::string> Disks = {Diskette("one.dsk", 3, 21), Diskette("two.dsk", 4, 22),
                                            Diskette("three.dsk", 1, 23)};
    Dir.LinkDrive('A', Disks[0]);
    WriteText(Dir / "box-001.144", "taken");
    const std::string Log = Dir / "box.csv";
    TChild Box({MARROWTIDE_IMG_PATH, "read", "A", "--each", Dir / "box-{n:03}.144", "--log", Log},
               Dir);
    const auto Count = [](const std::string& Text, const std::string& Part) {
        size_t Found = 0;
        for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
            ++Found;
        return Found;
    };
    // The next diskette goes in once the log has the last one's line and the loop asks for the
    // next (it has then noted which diskette it read).
    for (size_t Done = 1; Done <= Disks.size(); ++Done) {
        ASSERT_TRUE(WaitFor([&] {
            return Count(ReadText(Log), "\n") > Done &&
                   Count(ReadText(Dir / "stdout.txt"), "put in the next one") >= Done;
        }, ToolLimit)) << ReadText(Dir / "stderr.txt");
        if (Done < Disks.size())
            Dir.LinkDrive('A', Disks[Done]);
    }
    Box.Type("q\n");
    ASSERT_EQ(Box.Wait(), 0) << ReadText(Dir / "stderr.txt");

    std::istringstream Text(ReadText(Log));
    std::string Line;
    std::getline(Text, Line);
    EXPECT_EQ(Line, "file,format,raw_size,image_size,ratio,crc32,md5,sha1,seconds,result,unreadable");
    const char* Formats[] = {"720KB", "360KB", "1.44MB"};
    for (size_t i = 0; i < Disks.size(); ++i) {
        ASSERT_TRUE(std::getline(Text, Line));
        const std::string Image = Dir / ("box-00" + std::to_string(i + 2) + ".144");
        const std::vector<uint8_t> Dump = ReadBytes(Disks[i]);
        EXPECT_EQ(DumpOf(Image), Dump);
        const std::string Sums = "," + Crc32Of(Dump) + "," + DigestBy("md5sum", Dir, Disks[i]) +
                                 "," + DigestBy("sha1sum", Dir, Disks[i]) + ",";
        EXPECT_TRUE(Line.starts_with(Image + "," + Formats[i] + "," + std::to_string(Dump.size()) +
                                     "," + std::to_string(fs::file_size(Image)) + ","))
            << Line;
        EXPECT_TRUE(Contains(Line, Sums) && Line.ends_with(",ok,0")) << Line;
    }
    EXPECT_FALSE(std::getline(Text, Line)) << Line;
    EXPECT_EQ(ReadText(Dir / "box-001.144"), "taken");
    EXPECT_FALSE(fs::exists(Dir / "box-005.144"));
}

// Ctrl-C while the box waits for the next diskette ends it as interrupted, not as done.
TEST_F(CliDiskette, CtrlCWhileTheBoxWaitsEndsWith130)
{
    Dir.LinkDrive('A', Diskette("one.dsk", 3, 31));
    TChild Box({MARROWTIDE_IMG_PATH, "read", "A", "--each", Dir / "b-{n}.{ext}"}, Dir);
    ASSERT_TRUE(WaitFor([&] { return Contains(ReadText(Dir / "stdout.txt"), "put in the next one"); },
                        ToolLimit)) << ReadText(Dir / "stderr.txt");
    ::kill(Box.Pid, SIGINT);
    EXPECT_EQ(Box.Wait(), InterruptedStatus);
    EXPECT_TRUE(fs::exists(Dir / "b-1.720"));
}

// A log named *.jsonl: one JSON object per diskette, with the volume's label and serial.
TEST_F(CliDiskette, BoxLogAsJsonLines)
{
    const std::string Source = Dir / "labelled.dsk";
    ASSERT_EQ(std::system(("/usr/sbin/mkfs.fat -C -n BOX3DISK -i 0BADF00D " + Quote(Source) +
                           " 720 >/dev/null").c_str()), 0);
    Dir.LinkDrive('A', Source);
    const std::string Log = Dir / "box.jsonl";
    TChild Box({MARROWTIDE_IMG_PATH, "read", "A", "--each", Dir / "{label}.720", "--log", Log},
               Dir);
    ASSERT_TRUE(WaitFor([&] {
        return Contains(ReadText(Dir / "stdout.txt"), "put in the next one");
    }, ToolLimit)) << ReadText(Dir / "stderr.txt");
    Box.Type("q\n");
    ASSERT_EQ(Box.Wait(), 0) << ReadText(Dir / "stderr.txt");

    const std::string Text = ReadText(Log);
    ASSERT_EQ(std::count(Text.begin(), Text.end(), '\n'), 1) << Text;
    const auto Line = nlohmann::json::parse(Text);
    const std::string Image = Dir / "BOX3DISK-1.720";
    ASSERT_TRUE(Line.is_object()) << Text;
    EXPECT_EQ(Line["file"], Image);
    EXPECT_EQ(Line["format"], "720KB");
    EXPECT_EQ(Line["raw_size"], 737280);
    EXPECT_EQ(Line["image_size"], fs::file_size(Image));
    EXPECT_EQ(Line["crc32"], Crc32Of(ReadBytes(Source)));
    EXPECT_EQ(Line["md5"], DigestBy("md5sum", Dir, Source));
    EXPECT_EQ(Line["sha1"], DigestBy("sha1sum", Dir, Source));
    EXPECT_TRUE(Line["ratio"].is_number() && Line["seconds"].is_number()) << Text;
    EXPECT_EQ(Line["result"], "ok");
    EXPECT_EQ(Line["unreadable"], 0);
    EXPECT_EQ(Line["label"], "BOX3DISK");
    EXPECT_EQ(Line["serial"], "0BAD-F00D");
    EXPECT_EQ(Line.size(), 13u) << Text;
}

// The formats the window does not know, told by their boot sectors (320KB lies in the 360KB
// window), through pack, read, write onto a diskette without a boot sector, verify and unpack.
TEST_F(CliDiskette, AddedFormatsRoundTrip)
{
    for (const TFormatRow& Row : FormatTable) {
        if (Row.FormatIndex <= UnknownFormatIndex)
            continue;
        SCOPED_TRACE(Row.FormatName);
        const std::string Source = Blank("added.dsk", Row.FormatIndex);
        std::vector<uint8_t> Dump = ReadBytes(Source);
        ASSERT_EQ(Dump.size(), size_t(Row.MediumBytes()));
        const std::vector<uint8_t> Data = MakeDump(Dump.size(), Row.FormatIndex);
        std::copy(Data.begin() + 16384, Data.end(), Dump.begin() + 16384);
        WriteBytes(Source, Dump);
        Dir.LinkDrive('A', Source);

        const std::string Image = Dir / ("added" + std::string(Row.Extension));
        const TRun Read = Run({"read", "-y", "-q", "A", Dir / "added"});
        ASSERT_EQ(Read.Code, 0) << Read.Err;
        EXPECT_EQ(DumpOf(Image), Dump);
        EXPECT_TRUE(Contains(Run({"info", Image}).Out, "diskette format: " +
                                                           std::string(Row.FormatName)));
        ASSERT_EQ(Run({"pack", "-q", Source, "-o", Dir / "packed"}).Code, 0);
        EXPECT_TRUE(fs::exists(Dir / ("packed/added" + std::string(Row.Extension))));

        const std::string Target = Dir / "zeros.dsk";
        WriteBytes(Target, std::vector<uint8_t>(Dump.size(), 0));
        ASSERT_EQ(Run({"drive", "B", Target}).Code, 0);
        const TRun Write = Run({"write", "-y", "-q", Image, "B"});
        ASSERT_EQ(Write.Code, 0) << Write.Err;
        EXPECT_EQ(ReadBytes(Target), Dump);
        EXPECT_EQ(Run({"verify", "-y", "-q", Image, "B"}).Code, 0);

        // A blank medium of another size is named, and left as it was.
        WriteBytes(Target, std::vector<uint8_t>(737280, 0));
        const TRun Refused = Run({"write", "-y", "-q", Image, "B"});
        EXPECT_EQ(Refused.Code, 1);
        EXPECT_TRUE(Contains(Refused.Err, "no usable boot sector, and its medium holds 737,280 "
                                          "bytes, the size of a 720KB diskette")) << Refused.Err;
        EXPECT_EQ(ReadBytes(Target), std::vector<uint8_t>(737280, 0));
        fs::remove(Image);
        fs::remove_all(Dir / "packed");
        fs::remove(Source);
    }
}

// A dump of the medium's own size, as dd makes it: named, written and verified directly; and
// unpack gives that size back unless told otherwise.
TEST_F(CliDiskette, RawDumpsAndStandardSizes)
{
    const std::string Source = Blank("source.dsk", 4);
    std::vector<uint8_t> Dump = ReadBytes(Source);
    ASSERT_EQ(Dump.size(), 368640u);
    const std::vector<uint8_t> Data = MakeDump(Dump.size(), 9);
    std::copy(Data.begin() + 8192, Data.end(), Dump.begin() + 8192);
    const std::string Raw = Dir / "dd.img";
    WriteBytes(Raw, Dump);
    EXPECT_EQ(Run({"info", Raw}).Out,
              "raw dump of a 360KB diskette (not an image; `marrowtide-img pack` makes one)\n");
    ASSERT_EQ(Run({"pack", "-q", Raw, "-o", Dir / "packed"}).Code, 0);
    EXPECT_TRUE(fs::exists(Dir / "packed/dd.360"));

    Dir.LinkDrive('A', Source);
    const TRun Write = Run({"write", "-y", "-q", Raw, "A"});
    ASSERT_EQ(Write.Code, 0) << Write.Err;
    EXPECT_EQ(ReadBytes(Source), Dump);
    EXPECT_EQ(Run({"verify", "-y", "-q", Raw, "A"}).Code, 0);
    EXPECT_EQ(Run({"verify", "-y", "-q", Dir / "packed/dd.360", "A"}).Code, 0);
    const TRun Neither = Run({"write", "-y", Dir / "stdout.txt", "A"});
    EXPECT_EQ(Neither.Code, 1);
    EXPECT_TRUE(Contains(Neither.Err, "neither a Marrowtide image")) << Neither.Err;

    // A read pads the dump to 377,856 bytes; unpack cuts the zeros off again.
    ASSERT_EQ(Run({"read", "-y", "-q", "A", Dir / "read"}).Code, 0);
    const TRun Cut = Run({"unpack", "-q", Dir / "read.360", Dir / "cut.img"});
    EXPECT_EQ(Cut.Code, 0);
    EXPECT_EQ(Cut.Out + Cut.Err, "");
    EXPECT_EQ(ReadBytes(Dir / "cut.img"), Dump);
    ASSERT_EQ(Run({"unpack", "-q", "--exact-size", Dir / "read.360", Dir / "exact.img"}).Code, 0);
    EXPECT_EQ(fs::file_size(Dir / "exact.img"), 377856u);

    // Bytes past the medium that are not zero are kept, and the reason given.
    std::vector<uint8_t> Long = Dump;
    Long.resize(377856, 0);
    Long.back() = 1;
    WriteBytes(Dir / "long.img", Long);
    ASSERT_EQ(Run({"pack", "-q", Dir / "long.img", Dir / "long.360"}).Code, 0);
    const TRun Kept = Run({"unpack", "-q", Dir / "long.360", Dir / "kept.img"});
    EXPECT_EQ(Kept.Code, 0);
    EXPECT_TRUE(Contains(Kept.Err, "the 9216 past the 360KB diskette's 368640 are not all zero"))
        << Kept.Err;
    EXPECT_EQ(ReadBytes(Dir / "kept.img"), Long);
}

// ImageDisk out and in, judged by libdsk's own dsktrans: a dump through IMD and back is the
// same bytes, and an IMD file that dsktrans made is written onto a diskette directly.
TEST_F(CliDiskette, ImageDiskRoundTripsWithDsktrans)
{
    if (std::system("command -v dsktrans >/dev/null") != 0)
        GTEST_SKIP() << "dsktrans (libdsk-utils) is not installed";
    for (const int Index : {1, 3, 6, 9}) {
        SCOPED_TRACE(Index);
        const std::string Source = Blank("imd.dsk", Index);
        std::vector<uint8_t> Dump = ReadBytes(Source);
        const std::vector<uint8_t> Data = MakeDump(Dump.size(), 40 + Index);
        std::copy(Data.begin() + 8192, Data.end(), Dump.begin() + 8192);
        WriteBytes(Source, Dump);
        ASSERT_EQ(Run({"pack", "-q", Source, Dir / "imd.mwi"}).Code, 0);
        ASSERT_EQ(Run({"export", Dir / "imd.mwi", Dir / "out.imd"}).Code, 0);
        const std::string Back = Dir / "back.dsk";
        ASSERT_EQ(std::system(("dsktrans -itype imd -otype raw " + Quote(Dir / "out.imd") + " " +
                               Quote(Back) + " >/dev/null 2>&1").c_str()), 0);
        EXPECT_EQ(ReadBytes(Back), Dump);

        ASSERT_EQ(std::system(("dsktrans -itype raw -otype imd " + Quote(Source) + " " +
                               Quote(Dir / "in.imd") + " >/dev/null 2>&1").c_str()), 0);
        const std::string Target = Dir / "target.dsk";
        WriteBytes(Target, std::vector<uint8_t>(Dump.size(), 0));
        Dir.LinkDrive('B', Target);
        const TRun Write = Run({"write", "-y", "-q", Dir / "in.imd", "B"});
        EXPECT_EQ(Write.Code, 0) << Write.Err;
        EXPECT_EQ(ReadBytes(Target), Dump);
        for (const char* Name : {"imd.dsk", "imd.mwi", "out.imd", "back.dsk", "in.imd"})
            fs::remove(Dir / Name);
    }
}

// Another program's image goes through pack, unpack and ls as the dump it holds; dsktrans (the
// library's own tool) makes the ImageDisk files from dumps of the size the diskette holds.
TEST_F(CliDiskette, OtherProgramsImagesPackUnpackAndListAsTheirDump)
{
    if (std::system("command -v dsktrans >/dev/null") != 0)
        GTEST_SKIP() << "dsktrans (libdsk-utils) is not installed";
    for (const int Index : {1, 3, 4}) {
        const TFormatRow& Row = FormatTable[Index];
        const std::string Source = Diskette("src.dsk", Index, 60 + Index);
        std::vector<uint8_t> Dump = ReadBytes(Source);
        Dump.resize(size_t(Row.MediumBytes()));
        WriteBytes(Source, Dump);
        for (const std::string Type : {"imd", "tele", "copyqm"}) {
            SCOPED_TRACE(std::string(Row.FormatName) + " " + Type);
            const std::string Foreign = Dir / ("in." + Type);
            ASSERT_EQ(std::system(("dsktrans -itype raw -otype " + Type + " " + Quote(Source) +
                                   " " + Quote(Foreign) + " >/dev/null 2>&1").c_str()), 0);
            // Batch names follow the format, as for a raw dump.
            const TRun Pack = Run({"pack", "-f", "-o", Dir / "out", Foreign});
            ASSERT_EQ(Pack.Code, 0) << Pack.Err;
            const std::string Image = Dir / ("out/in" + std::string(Row.Extension));
            EXPECT_TRUE(Contains(Pack.Out, std::to_string(Dump.size()) + " -> ")) << Pack.Out;
            EXPECT_EQ(DumpOf(Image), Dump);
            ASSERT_EQ(Run({"unpack", "-q", "-f", Foreign, Dir / "direct.img"}).Code, 0);
            EXPECT_EQ(ReadBytes(Dir / "direct.img"), Dump);
            // Exported to ImageDisk, as an image would be.
            ASSERT_EQ(Run({"export", "-f", Foreign, Dir / "again.imd"}).Code, 0);
            ASSERT_EQ(Run({"unpack", "-q", "-f", Dir / "again.imd", Dir / "direct.img"}).Code, 0);
            EXPECT_EQ(ReadBytes(Dir / "direct.img"), Dump);
        }
        const std::string Imd = Dir / "in.imd";
        const TRun List = Run({"ls", Imd});
        EXPECT_EQ(List.Code, 0) << List.Err;
        EXPECT_TRUE(Contains(List.Out, "in.imd: ImageDisk image, " + std::string(Row.FormatName)))
            << List.Out;
        const std::string Raw = Run({"ls", Source}).Out;
        EXPECT_EQ(Raw.substr(Raw.find('\n')), List.Out.substr(List.Out.find('\n')));
        EXPECT_TRUE(Contains(Run({"info", "--hash", Imd}).Out,
                             "SHA-1: " + DigestBy("sha1sum", Dir, Source)));
    }
    // A cut-short file, on which libdsk may crash, fails alone: the batch goes on.
    std::vector<uint8_t> Cut = ReadBytes(Dir / "in.copyqm");
    Cut.resize(200);
    WriteBytes(Dir / "cut.cqm", Cut);
    const TRun Batch = Run({"pack", "-f", "-o", Dir / "cut", Dir / "cut.cqm", Dir / "in.imd"});
    EXPECT_EQ(Batch.Code, 1);
    EXPECT_TRUE(Contains(Batch.Err, "cut.cqm: ")) << Batch.Err;
    EXPECT_TRUE(fs::exists(Dir / "cut/in.360"));
    // A dump that merely starts as a TeleDisk file does is packed as the dump it is.
    std::vector<uint8_t> Td = MakeDump(737280, 5);
    Td[0] = 'T', Td[1] = 'D';
    WriteBytes(Dir / "td.img", Td);
    ASSERT_EQ(Run({"pack", "-q", Dir / "td.img", Dir / "td.720"}).Code, 0);
    EXPECT_EQ(DumpOf(Dir / "td.720"), Td);
    // A raw dump has nothing to unpack, and says so.
    const TRun Raw = Run({"unpack", Dir / "src.dsk", Dir / "raw.img"});
    EXPECT_EQ(Raw.Code, 1);
    EXPECT_TRUE(Contains(Raw.Err, "src.dsk: a raw dump of a 360KB diskette already")) << Raw.Err;
    EXPECT_FALSE(fs::exists(Dir / "raw.img"));
}

// read DRIVE - writes the image to standard output, its messages to standard error; write -
// takes a raw dump from a pipe as from a file.
TEST_F(CliDiskette, DisketteCommandsTakeStandardStreams)
{
    const std::string Source = Diskette("pipe.dsk", 3, 17);
    Dir.LinkDrive('A', Source);
    const std::string Tool = Quote(MARROWTIDE_IMG_PATH);
    ASSERT_EQ(std::system((Tool + " read -y A - 2>" + Quote(Dir / "err.txt") + " | " + Tool +
                           " unpack -q - - >" + Quote(Dir / "back.img")).c_str()),
              0);
    EXPECT_EQ(ReadBytes(Dir / "back.img"), ReadBytes(Source));
    EXPECT_TRUE(Contains(ReadText(Dir / "err.txt"), "Wrote the image to standard output"));
    // Nothing named "-" or "-.720", and no last folder of /dev for the window.
    EXPECT_FALSE(fs::exists(Dir / "-.720"));
    EXPECT_FALSE(Contains(ReadText(Dir / "config/marrowtide/HKEY_CURRENT_USER.reg"), "/dev/"));

    // Never onto a terminal unless forced ("script" gives the tool one).
    const int OnTerminal = std::system(("script -qec " + Quote(Tool + " read -y A -") +
                                        " /dev/null >" + Quote(Dir / "tty.txt")).c_str());
    EXPECT_EQ(WEXITSTATUS(OnTerminal), 2);
    EXPECT_TRUE(Contains(ReadText(Dir / "tty.txt"), "not written to a terminal; use -f"))
        << ReadText(Dir / "tty.txt");

    const std::string Target = Blank("target.dsk", 3);
    Dir.LinkDrive('B', Target);
    ASSERT_EQ(std::system(("cat " + Quote(Source) + " | " + Tool + " write -y -q - B").c_str()), 0);
    EXPECT_EQ(ReadBytes(Target), ReadBytes(Source));

    // A box, a rescue and its map and log need files.
    EXPECT_EQ(Run({"read", "-y", "A", "--each", "-"}).Code, 2);
    EXPECT_EQ(Run({"read", "-y", "A", "-", "--rescue"}).Code, 2);
    EXPECT_EQ(Run({"read", "-y", "A", "x", "--rescue", "--map", "-"}).Code, 2);
}

// A diskette whose boot sector is gone: detection stops and names --format, which reads it.
TEST_F(CliDiskette, FormatNamedByHandSkipsDetection)
{
    const std::string Source = Diskette("wiped.dsk", 2, 31);
    std::vector<uint8_t> Wiped = ReadBytes(Source);
    std::fill(Wiped.begin(), Wiped.begin() + 512, 0);
    WriteBytes(Source, Wiped);
    Dir.LinkDrive('A', Source);

    const TRun Stopped = Run({"read", "-y", "A", Dir / "wiped"});
    EXPECT_EQ(Stopped.Code, 1);
    EXPECT_TRUE(Contains(Stopped.Err, "Can't find disk.")) << Stopped.Err;
    EXPECT_TRUE(Contains(Stopped.Err, "--format 2.88MB, 1.44MB")) << Stopped.Err;

    const TRun Read = Run({"read", "-y", "-q", "--format", "1.2mb", "A", Dir / "wiped"});
    ASSERT_EQ(Read.Code, 0) << Read.Err;
    std::vector<uint8_t> Dump = DumpOf(Dir / "wiped.120");
    EXPECT_EQ(Dump, Wiped);

    EXPECT_EQ(Run({"read", "-y", "--format", "1.3MB", "A"}).Code, 2);
    EXPECT_EQ(Run({"write", "-y", "--format", "1.2MB", Dir / "wiped.120", "A"}).Code, 2);
}

// Ctrl-C while a stand-in helper works: it is stopped, and no image and no partial dump stay.
TEST_F(CliDiskette, InterruptStopsTheHelperAndCleansUp)
{
    const std::string Bin = Dir / "bin";
    fs::create_directories(Bin);
    fs::copy_file(MARROWTIDE_IMG_PATH, Bin + "/marrowtide-img");
    const std::string PidFile = Dir / "helper.pid";
    WriteText(Bin + "/Rastrel2.exe", "#!/bin/sh\necho $$ >" + Quote(PidFile + ".new") + "\nmv " +
                                         Quote(PidFile + ".new") + " " + Quote(PidFile) +
                                         "\nhead -c 100000 /dev/zero >temp.del\nexec sleep 60\n");
    fs::permissions(Bin + "/Rastrel2.exe", fs::perms::owner_all);
    const std::string Source = Diskette("source.dsk", 1, 5);
    Dir.LinkDrive('A', Source);
    ASSERT_EQ(Run({"read", "-y", "A", Dir / "whole"}).Code, 0);

    for (const bool Reading : {true, false}) {
        SCOPED_TRACE(Reading ? "read" : "write");
        fs::remove(PidFile);
        const std::string Tool = Bin + "/marrowtide-img";
        TChild Child(Reading ? std::vector<std::string>{Tool, "read", "-y", "A", Dir / "out"}
                             : std::vector<std::string>{Tool, "write", "-y", Dir / "whole.144", "A"},
                     Dir);
        ASSERT_TRUE(WaitFor([&] { return fs::exists(PidFile); }, ToolLimit));
        const pid_t Helper = std::stoi(ReadText(PidFile));
        ASSERT_TRUE(WaitFor([&] { return !TempDels().empty(); }, ToolLimit));
        ::kill(Child.Pid, SIGINT);
        EXPECT_EQ(Child.Wait(), 130);
        EXPECT_TRUE(ProcessGone(Helper));
        EXPECT_FALSE(fs::exists(Dir / "out.144"));
        EXPECT_EQ(TempDels(), std::vector<std::string>());
        const std::string Err = ReadText(Dir / "stderr.txt");
        EXPECT_TRUE(Contains(Err, Reading ? "interrupted: no image was made"
                                          : "interrupted: the diskette in A: is unfinished"))
            << Err;
        if (!ProcessGone(Helper))
            ::kill(Helper, SIGKILL);
    }
    EXPECT_EQ(ReadBytes(Source), MakeSampleDisk(1474560, TSampleKind::Filled, 5));
}

// The helper beside a copy of the program in Dir/bin: a stand-in that runs Script first, then
// the real helper.
std::string ToolWithHelperScript(TPrivateProfile& Dir, const std::string& Script)
{
    const std::string Bin = Dir / "bin";
    fs::create_directories(Bin);
    fs::copy_file(MARROWTIDE_IMG_PATH, Bin + "/marrowtide-img", fs::copy_options::overwrite_existing);
    const std::string Real = (fs::path(MARROWTIDE_IMG_PATH).parent_path() / "Rastrel2.exe").string();
    WriteText(Bin + "/Rastrel2.exe", "#!/bin/sh\n" + Script + "\nexec " + Quote(Real) + " \"$@\"\n");
    fs::permissions(Bin + "/Rastrel2.exe", fs::perms::owner_all);
    return Bin + "/marrowtide-img";
}

// Another run takes the image's name while the diskette is read: no image is lost. A single
// read fails and keeps its image under the name it gives; the box takes the next number.
TEST_F(CliDiskette, ANameTakenDuringTheReadIsNeverReplaced)
{
    const std::string Taken = Dir / "taken.txt";
    const std::string Tool =
        ToolWithHelperScript(Dir, "printf other >\"$(cat " + Quote(Taken) + ")\"");
    const std::string Source = Diskette("source.dsk", 1, 7);
    Dir.LinkDrive('A', Source);

    WriteText(Taken, Dir / "same.144");
    TChild Single({Tool, "read", "-y", "A", Dir / "same.144"}, Dir);
    EXPECT_EQ(Single.Wait(), 1);
    const std::string Err = ReadText(Dir / "stderr.txt");
    EXPECT_EQ(ReadText(Dir / "same.144"), "other");
    std::string Kept;
    for (const auto& Entry : fs::directory_iterator(Dir.Path()))
        if (Entry.path().filename().string().starts_with("same.kept-"))
            Kept = Entry.path();
    ASSERT_FALSE(Kept.empty()) << Err;
    EXPECT_TRUE(Contains(Err, "already exists") && Contains(Err, Kept)) << Err;
    EXPECT_EQ(DumpOf(Kept), ReadBytes(Source));

    WriteText(Taken, Dir / "box-001.144");
    const std::string Log = Dir / "box.csv";
    TChild Box({Tool, "read", "A", "--each", Dir / "box-{n:03}.144", "--log", Log}, Dir);
    ASSERT_TRUE(WaitFor([&] { return Contains(ReadText(Log), ",ok"); }, ToolLimit))
        << ReadText(Dir / "stderr.txt");
    Box.Type("q\n");
    EXPECT_EQ(Box.Wait(), 0) << ReadText(Dir / "stderr.txt");
    EXPECT_EQ(ReadText(Dir / "box-001.144"), "other");
    EXPECT_EQ(DumpOf(Dir / "box-002.144"), ReadBytes(Source));
    EXPECT_TRUE(Contains(ReadText(Log), "\n" + Dir / "box-002.144,1.44MB,")) << ReadText(Log);
    for (const auto& Entry : fs::directory_iterator(Dir.Path()))
        EXPECT_FALSE(Entry.path().filename().string().starts_with(".marrowtide")) << Entry.path();
}

// A pattern the box cannot use is a usage error before a diskette is read, never a loop.
TEST_F(CliDiskette, ABadBoxPatternIsRefusedBeforeReading)
{
    Dir.LinkDrive('A', Diskette("source.dsk", 3, 9));
    for (const std::string Pattern : {"box-{n.144", "fixed{n:0}.144", "{name}-{n}.720"}) {
        const TRun Refused = Run({"read", "A", "--each", Dir / Pattern});
        EXPECT_EQ(Refused.Code, 2) << Pattern;
        EXPECT_TRUE(Contains(Refused.Err, "placeholder")) << Refused.Err;
    }
    EXPECT_TRUE(TempDels().empty());
}

// A log line that cannot be written fails the box at its end; the images made stay.
TEST_F(CliDiskette, ALogThatCannotBeWrittenFailsTheBox)
{
    const std::string Source = Diskette("source.dsk", 3, 9);
    Dir.LinkDrive('A', Source);
    TChild Box({MARROWTIDE_IMG_PATH, "read", "A", "--each", Dir / "box.720", "--log", "/dev/full"},
               Dir);
    ASSERT_TRUE(WaitFor([&] { return Contains(ReadText(Dir / "stdout.txt"), "next one"); }, ToolLimit))
        << ReadText(Dir / "stderr.txt");
    Box.Type("q\n");
    EXPECT_EQ(Box.Wait(), 1);
    EXPECT_TRUE(Contains(ReadText(Dir / "stderr.txt"), "cannot write to the log /dev/full"))
        << ReadText(Dir / "stderr.txt");
    EXPECT_EQ(DumpOf(Dir / "box-1.720"), ReadBytes(Source));
}

}  // namespace
