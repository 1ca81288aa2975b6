// The stand-ins for the system services, on private temporary folders: FAT volume sizes, the
// drive table and floppy detection, the private temp folder, case-blind files and their I/O
// error texts, and detached launches.
#include <gtest/gtest.h>

#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/FatBoot.h"
#include "platform/FileHandle.h"
#include "platform/Files.h"
#include "platform/Launch.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WaitFor.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The I/O error a call raises: its number and text.
std::pair<int, std::string> IoErrorOf(const std::function<void()>& Call)
{
    try {
        Call();
    } catch (const EInOutError& E) {
        return {E.ErrorCode, E.what()};
    }
    return {0, "(no exception)"};
}

class PlatformTest : public ::testing::Test {
protected:
    TPrivateProfile Profile{"marrowtide-platform"};
    const std::string Root = Profile.Path();
};

TEST(InOutErrorTexts, NumbersAndFallback)
{
    EXPECT_EQ(InOutErrorText(2), "File not found");
    EXPECT_EQ(InOutErrorText(3), "Invalid filename");
    EXPECT_EQ(InOutErrorText(4), "Too many open files");
    EXPECT_EQ(InOutErrorText(5), "File access denied");
    EXPECT_EQ(InOutErrorText(100), "Read beyond end of file");
    EXPECT_EQ(InOutErrorText(101), "Disk full");
    EXPECT_EQ(InOutErrorText(106), "Invalid numeric input");
    EXPECT_EQ(InOutErrorText(32), "I/O error 32");
    EXPECT_EQ(EInOutError(103).what(), std::string("I/O error 103"));
}

// The capacities detection sorts diskettes by: data clusters times cluster size.
TEST(FatBoot, BlankDiskettesOfTheFiveFormats)
{
    const int64_t Medium[] = {2949120, 1474560, 1228800, 737280, 368640};
    const int64_t Volume[] = {2931712, 1457664, 1213952, 730112, 362496};
    for (unsigned Index = 0; Index < 5; ++Index) {
        std::vector<uint8_t> Disk = MakeBlankDiskette(Index, 0x1234);
        ASSERT_EQ(static_cast<int64_t>(Disk.size()), Medium[Index]) << Index;
        EXPECT_EQ(FatVolumeSize(Disk.data(), Disk.size()), Volume[Index]) << Index;
        const TBootParameters& P = StandardBootParameters(Index);
        // Both FATs start with the media byte; the root directory is empty.
        for (unsigned Fat = 0; Fat < 2; ++Fat)
            EXPECT_EQ(Disk[(1 + Fat * P.SectorsPerFat) * 512], P.Media);
        EXPECT_EQ(Disk[P.FirstRootSector() * 512], 0);
    }
    EXPECT_THROW(StandardBootParameters(5), std::out_of_range);
}

TEST(FatBoot, InvalidBootSectorsHaveNoVolume)
{
    std::vector<uint8_t> Good = MakeBlankDiskette(1, 1);
    auto SizeWith = [&](const std::function<void(std::vector<uint8_t>&)>& Damage) {
        std::vector<uint8_t> Sector(Good.begin(), Good.begin() + 512);
        Damage(Sector);
        return FatVolumeSize(Sector.data(), Sector.size());
    };
    EXPECT_EQ(SizeWith([](auto&) {}), 1457664);
    EXPECT_EQ(SizeWith([](auto& S) { std::fill(S.begin(), S.end(), 0); }), -1);
    EXPECT_EQ(SizeWith([](auto& S) { S[0] = 0; S[510] = 0; }), -1);        // no jump, no signature
    EXPECT_EQ(SizeWith([](auto& S) { S[510] = 0; }), 1457664);              // old disks: jump only
    EXPECT_EQ(SizeWith([](auto& S) { S[11] = 0; S[12] = 3; }), -1);          // 768-byte sectors
    EXPECT_EQ(SizeWith([](auto& S) { S[13] = 3; }), -1);                    // cluster not 2^n
    EXPECT_EQ(SizeWith([](auto& S) { S[13] = 0; }), -1);
    EXPECT_EQ(SizeWith([](auto& S) { S[16] = 0; }), -1);                    // no FAT
    EXPECT_EQ(SizeWith([](auto& S) { S[21] = 0x12; }), -1);                 // media byte
    EXPECT_EQ(SizeWith([](auto& S) { S[19] = 10; S[20] = 0; }), -1);         // FATs fill the disk
    EXPECT_EQ(SizeWith([](auto& S) { S[22] = 0xFF; S[23] = 0xFF; }), -1);
    EXPECT_EQ(FatVolumeSize(Good.data(), 511), -1);
}

TEST_F(PlatformTest, VolumeSizeOfFilesAndMissingTargets)
{
    std::string Image = Root + "/a.img";
    WriteBytes(Image, MakeBlankDiskette(3, 7));
    EXPECT_EQ(VolumeSizeOfTarget(Image), 730112);
    EXPECT_EQ(VolumeSizeOfTarget(Root + "/missing.img"), -1);
    EXPECT_EQ(VolumeSizeOfTarget(""), -1);
    WriteText(Root + "/short.img", "\xEB\x3C\x90");
    EXPECT_EQ(VolumeSizeOfTarget(Root + "/short.img"), -1);
    EXPECT_EQ(VolumeSizeOfTarget(Root), -1);  // a folder
}

TEST_F(PlatformTest, DriveTableSetsClearsAndLists)
{
    std::string Image = Root + "/disks/boot.144";
    fs::create_directories(Root + "/disks");
    WriteBytes(Image, MakeBlankDiskette(1, 9));

    EXPECT_EQ(DriveTableEntry('A'), "");
    EXPECT_EQ(VolumeSize('z'), -1);
    SetDriveTableEntry('a', Image);
    EXPECT_EQ(DriveTableEntry('A'), Image);
    EXPECT_EQ(DriveTarget('a'), Image);
    EXPECT_EQ(VolumeSize('A'), 1457664);
    EXPECT_EQ(fs::read_symlink(Root + "/config/marrowtide/dosdevices/a:"), Image);
    EXPECT_EQ((fs::status(Root + "/config/marrowtide").permissions() & fs::perms::all),
              fs::perms::owner_all);

    // A relative target is kept absolute; a second set replaces the first.
    std::string Cwd = fs::current_path();
    fs::current_path(Root + "/disks");
    SetDriveTableEntry('Q', "other.img");
    fs::current_path(Cwd);
    EXPECT_EQ(DriveTableEntry('q'), Root + "/disks/other.img");
    SetDriveTableEntry('q', Image);
    EXPECT_EQ(DriveTableEntry('q'), Image);

    std::vector<std::string> List = DriveList();
    ASSERT_GE(List.size(), 2u);
    EXPECT_EQ(List.front(), "a: [" + Image + "]");
    EXPECT_EQ(List.back(), "q: [" + Image + "]");

    EXPECT_TRUE(ClearDriveTableEntry('A'));
    EXPECT_FALSE(ClearDriveTableEntry('A'));
    EXPECT_EQ(DriveTableEntry('A'), "");
    EXPECT_THROW(SetDriveTableEntry('1', Image), EAPIException);
    EXPECT_THROW(SetDriveTableEntry('B', ""), EAPIException);
}

// A hand-made relative link leads where the file system takes it, whatever the current folder.
TEST_F(PlatformTest, RelativeDriveTableLinksStartAtTheLinksFolder)
{
    std::string Image = Root + "/config/marrowtide/disks/x.144";
    fs::create_directories(Root + "/config/marrowtide/disks");
    WriteBytes(Image, MakeBlankDiskette(1, 9));
    fs::create_directories(Root + "/config/marrowtide/dosdevices");
    fs::create_symlink("../disks/x.144", Root + "/config/marrowtide/dosdevices/a:");

    std::string Cwd = fs::current_path();
    fs::current_path(Root);
    std::string Expected = fs::canonical(Image);
    EXPECT_EQ(DriveTableEntry('a'), Expected);
    EXPECT_EQ(DriveTarget('A'), Expected);
    EXPECT_EQ(VolumeSize('A'), 1457664);
    ASSERT_FALSE(DriveList().empty());
    EXPECT_EQ(DriveList().front(), "a: [" + Expected + "]");
    fs::current_path(Cwd);
}

// Loop devices are matched to a file by the file itself, not by the path they name.
TEST_F(PlatformTest, FindsTheLoopDeviceAFileBacks)
{
    std::string Sys = Root + "/sys";
    std::string Image = Root + "/disks/x.144";
    WriteText(Image, "disk");
    WriteText(Root + "/disks/other.144", "other");
    fs::create_directories(Sys + "/block/loop0");  // unbound: no loop/backing_file
    WriteText(Sys + "/block/loop1/loop/backing_file", Root + "/disks/other.144\n");
    WriteText(Sys + "/block/loop2/loop/backing_file", Root + "/disks/../disks/x.144\n");
    WriteText(Sys + "/block/sda/loop/backing_file", Image + "\n");
    struct stat Info {};
    ASSERT_EQ(::stat(Image.c_str(), &Info), 0);
    EXPECT_EQ(LoopDeviceBackedBy(Info.st_dev, Info.st_ino, Sys), "/dev/loop2");

    fs::remove(Sys + "/block/loop2/loop/backing_file");
    EXPECT_EQ(LoopDeviceBackedBy(Info.st_dev, Info.st_ino, Sys), "");
    EXPECT_EQ(LoopDeviceBackedBy(Info.st_dev, Info.st_ino, Root + "/missing"), "");
}

// USB floppy drives are found by their interface: mass storage, UFI command set.
TEST_F(PlatformTest, DetectsUsbFloppyDrivesByInterfaceClass)
{
    std::string Sys = Root + "/sys";
    std::string Dev = Root + "/dev";
    auto AddDisk = [&](const std::string& Name, const char* Class, const char* SubClass) {
        std::string Interface = Sys + "/devices/usb1/1-1/1-1:1.0-" + Name;
        std::string Block = Interface + "/host0/target0:0:0/0:0:0:0/block/" + Name;
        fs::create_directories(Block);
        WriteText(Interface + "/bInterfaceClass", std::string(Class) + "\n");
        WriteText(Interface + "/bInterfaceSubClass", std::string(SubClass) + "\n");
        fs::create_directories(Sys + "/block");
        fs::create_symlink(Block, Sys + "/block/" + Name);
        WriteText(Dev + "/" + Name, "");
    };
    AddDisk("sdc", "08", "04");
    AddDisk("sdb", "08", "06");  // a memory stick
    AddDisk("sda", "08", "04");
    EXPECT_EQ(DetectFloppyDrives(Dev, Sys),
              (std::vector<std::string>{Dev + "/sda", Dev + "/sdc"}));
    fs::remove(Dev + "/sda");  // unplugged: no device node
    EXPECT_EQ(DetectFloppyDrives(Dev, Sys), (std::vector<std::string>{Dev + "/sdc"}));
    EXPECT_TRUE(DetectFloppyDrives(Root + "/nodev", Root + "/nosys").empty());
}

// Each running program has a private folder of its own; those of programs that have ended (or
// died making theirs) go at the next start.
TEST_F(PlatformTest, EachProgramHasItsOwnWorkFolder)
{
    const std::string UserDir = Root + "/tmp/marrowtide-" + std::to_string(::getuid());
    TWorkFolder First, Second;
    EXPECT_NE(First.Path(), Second.Path());
    EXPECT_EQ(First.Path().rfind(UserDir + "/run-" + std::to_string(::getpid()) + "-", 0), 0u);
    EXPECT_EQ(fs::status(First.Path()).permissions(), fs::perms::owner_all);
    pid_t Child = ::fork();
    if (Child == 0) {
        TWorkFolder Ended;
        std::ofstream(Root + "/ended") << Ended.Path();
        ::_exit(0);
    }
    ::waitpid(Child, nullptr, 0);
    fs::create_directory(UserDir + "/run-1-unlocked", First.Path());
    TWorkFolder Third;
    EXPECT_FALSE(fs::exists(ReadText(Root + "/ended")));
    EXPECT_FALSE(fs::exists(UserDir + "/run-1-unlocked"));
    EXPECT_TRUE(fs::exists(First.Path()) && fs::exists(Second.Path()));
}

// A per-user folder others could reach is passed over for a fresh one nobody can guess: a link,
// even to a private folder of ours (such as ~/.ssh), or a folder open to everyone.
TEST_F(PlatformTest, AnUnsafeUserFolderGivesWayToAFreshPrivateOne)
{
    const std::string UserDir = Root + "/tmp/marrowtide-" + std::to_string(::getuid());
    fs::create_directories(Root + "/elsewhere");
    fs::create_directories(Root + "/private");
    fs::permissions(Root + "/private", fs::perms::owner_all);
    const std::vector<std::function<void()>> Setups = {
        [&] { fs::create_directory_symlink(Root + "/elsewhere", UserDir); },
        [&] { fs::create_directory_symlink(Root + "/private", UserDir); },
        [&] {
            fs::create_directory(UserDir);  // ours, but open to everyone
            fs::permissions(UserDir, fs::perms::all);
        }};
    for (const auto& Setup : Setups) {
        fs::remove(UserDir);
        Setup();
        TWorkFolder Folder;
        EXPECT_EQ(Folder.Refused(), UserDir);
        EXPECT_EQ(Folder.Path().rfind(UserDir + "-", 0), 0u);
        EXPECT_EQ(fs::status(Folder.Path()).permissions(), fs::perms::owner_all);
    }
    EXPECT_TRUE(fs::is_empty(Root + "/elsewhere"));
    EXPECT_TRUE(fs::is_empty(Root + "/private"));
}

// The fresh folders of programs that ended are swept as the run folders are; a live program's
// and folders that are not private ones of ours stay.
TEST_F(PlatformTest, FreshFoldersOfEndedProgramsAreSwept)
{
    const std::string UserDir = Root + "/tmp/marrowtide-" + std::to_string(::getuid());
    fs::create_directory_symlink(Root, UserDir);
    TWorkFolder Live;
    pid_t Child = ::fork();
    if (Child == 0) {
        TWorkFolder Ended;
        std::ofstream(Root + "/ended") << Ended.Path();
        ::_exit(0);
    }
    ::waitpid(Child, nullptr, 0);
    const std::string Open = UserDir + "-opened";
    fs::create_directory(Open);
    std::ofstream(Open + "/lock");
    fs::permissions(Open, fs::perms::all);
    const std::string Ended = ReadText(Root + "/ended");
    ASSERT_TRUE(fs::exists(Ended + "lock"));

    TWorkFolder Next;
    EXPECT_FALSE(fs::exists(Ended));
    EXPECT_TRUE(fs::exists(Live.Path()) && fs::exists(Next.Path()));
    EXPECT_TRUE(fs::exists(Open + "/lock"));
}

TEST_F(PlatformTest, FileNamesMatchWithoutRegardToCase)
{
    std::string Work = Root + "/work/";
    WriteText(Work + "temp.del", "dump");
    EXPECT_EQ(ResolveNoCase(Work + "\\Temp.del"), Work + "\\Temp.del");  // no such name part
    EXPECT_EQ(ResolveNoCase(Work + "Temp.DEL"), Work + "temp.del");
    EXPECT_EQ(ResolveNoCase(Work + "/Temp.del"), Work + "/temp.del");     // doubled separator
    EXPECT_TRUE(FileExists(Work + "TEMP.del"));
    EXPECT_EQ(FileSize(Work + "Temp.del"), 4);
    EXPECT_FALSE(FileExists(Work));
    EXPECT_EQ(FileSize(Work + "none"), -1);
    EXPECT_TRUE(DeleteFile(Work + "/Temp.del"));
    EXPECT_FALSE(FileExists(Work + "temp.del"));
    EXPECT_FALSE(DeleteFile(Work + "temp.del"));
}

TEST_F(PlatformTest, CopyReplacesAndKeepsTheExecutableBit)
{
    std::string Program = Root + "/prog/Rastrel2.exe";
    WriteText(Program, "#!/bin/sh\necho new\n");
    ::chmod(Program.c_str(), 0755);
    std::string Copy = Root + "/tmp/Rastrel2.exe";
    WriteText(Copy, "old copy");
    ::chmod(Copy.c_str(), 0600);

    EXPECT_FALSE(CopyFile(Program, Copy, true));
    EXPECT_EQ(ReadText(Copy), "old copy");
    EXPECT_TRUE(CopyFile(Program, Copy, false));
    EXPECT_EQ(ReadText(Copy), "#!/bin/sh\necho new\n");
    EXPECT_NE(fs::status(Copy).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_FALSE(CopyFile(Root + "/prog/missing", Copy, false));
    EXPECT_EQ(ReadText(Copy), "#!/bin/sh\necho new\n");
    EXPECT_FALSE(CopyFile(Program, Root + "/nofolder/x", false));
    // Nothing left beside the copy.
    EXPECT_EQ(std::distance(fs::directory_iterator(Root + "/tmp"), fs::directory_iterator()), 1);
}

TEST_F(PlatformTest, TextFilesReportTheirIoErrors)
{
    std::string Status = Root + "/Status.dat";
    EXPECT_EQ(IoErrorOf([&] { ReadFirstLine(Status); }), std::make_pair(2, std::string("File not found")));
    WriteText(Status, "37\r\nmore\r\n");
    EXPECT_EQ(ReadFirstLine(Status), "37");
    WriteText(Status, "5");
    EXPECT_EQ(ReadFirstLine(Status), "5");
    WriteText(Status, "");
    EXPECT_EQ(ReadFirstLine(Status), "");

    // A writer holding the file: the sharing violation.
    WriteText(Status, "12\r\n");
    int Writer = ::open(Status.c_str(), O_WRONLY);
    ASSERT_EQ(::flock(Writer, LOCK_EX), 0);
    EXPECT_EQ(IoErrorOf([&] { ReadFirstLine(Status); }), std::make_pair(32, std::string("I/O error 32")));
    ::close(Writer);
    EXPECT_EQ(ReadFirstLine(Status), "12");

    std::string Working = Root + "/working.dat";
    WriteText(Working, "left over");
    RewriteTextFile(Working);
    EXPECT_EQ(FileSize(Working), 0);
    EXPECT_EQ(IoErrorOf([&] { RewriteTextFile(Root + "/nofolder/working.dat"); }).first, 2);
    EXPECT_EQ(IoErrorOf([&] { RewriteTextFile(Root); }).first, 5);
}

// The descriptor owner closes exactly once, hands over on a move, and keeps errno when it
// closes on the way out, so a caller can still report the step that failed.
TEST(FileHandle, ClosesOnceAndKeepsErrno)
{
    const auto Open = [](int Fd) { return ::fcntl(Fd, F_GETFD) != -1; };
    int Fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(Fd, 0);
    {
        TFileHandle First(Fd);
        TFileHandle Second(std::move(First));
        EXPECT_FALSE(First.Valid());
        EXPECT_EQ(Second.Get(), Fd);
        errno = ENOSPC;
    }
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(Open(Fd));

    TFileHandle Held(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int Old = Held.Get();
    Held = TFileHandle(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_NE(Held.Get(), -1);
    EXPECT_FALSE(Open(Old)) << "the replaced descriptor is closed";
    const int Kept = Held.Release();
    EXPECT_TRUE(Open(Kept)) << "a released descriptor stays open";

    // A failed close is reported, and the handle is empty afterwards.
    TFileHandle Stale(Kept);
    ::close(Kept);
    EXPECT_FALSE(Stale.Close());
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(Stale.Valid());
    EXPECT_TRUE(Stale.Close()) << "nothing left to close";
}

// Whole reads stop soon after their limit, and a failed read says why.
TEST_F(PlatformTest, ReadAllStopsPastItsLimit)
{
    const std::string Path = Root + "/big";
    WriteText(Path, std::string(200000, 'x'));
    auto Read = [&](const std::string& What, int64_t Limit, std::string& Text) {
        const TFileHandle File(::open(What.c_str(), O_RDONLY | O_CLOEXEC));
        return ReadAll(File.Get(), Limit, [&Text](const char* Bytes, size_t Count) { Text.append(Bytes, Count); });
    };
    std::string Whole, Cut, None;
    EXPECT_EQ(Read(Path, 200000, Whole), 200000);
    EXPECT_EQ(Whole, std::string(200000, 'x'));
    const int64_t Past = Read(Path, 100000, Cut);
    EXPECT_GT(Past, 100000);
    EXPECT_LT(Past, 200000);
    EXPECT_EQ(Read(Root, 10, None), -1);
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(PlatformTest, LaunchStartsAProgramDetachedInItsFolder)
{
    std::string Work = Root + "/work";
    fs::create_directories(Work);
    WriteText(Work + "/Rastrel2.exe",
              "#!/bin/sh\nsleep 0.3\necho \"$# [$1] [$2] [$6] $(pwd)\" > args.txt\n");
    ::chmod((Work + "/Rastrel2.exe").c_str(), 0755);

    TLaunch Launch = StartProgram(Work + "/Rastrel2.exe", "i temp.del 80 A 18 w", Work);
    EXPECT_GT(Launch.Result, 32);
    ASSERT_GT(Launch.Pid, 0);
    EXPECT_TRUE(ProcessRunning(Launch.Pid));
    ASSERT_TRUE(WaitFor([&] { return !ProcessRunning(Launch.Pid); }));
    EXPECT_EQ(ReadText(Work + "/args.txt"), "6 [i] [temp.del] [w] " + Work + "\n");
}

TEST_F(PlatformTest, LaunchFailuresGiveTheShellsNumbers)
{
    std::string Work = Root + "/work";
    fs::create_directories(Work);
    EXPECT_EQ(StartProgram(Work + "/Rastrel2.exe", "", Work).Result, SE_ERR_FNF);
    EXPECT_EQ(StartProgram(Work + "/Rastrel2.exe", "", Root + "/none").Result, SE_ERR_PNF);
    // A file the system refuses to run.
    WriteText(Work + "/broken.exe", "\x7f" "ELF garbage");
    ::chmod((Work + "/broken.exe").c_str(), 0755);
    TLaunch Broken = StartProgram(Work + "/broken.exe", "", Work);
    EXPECT_LE(Broken.Result, 32);
    EXPECT_EQ(Broken.Pid, -1);
    EXPECT_FALSE(ProcessRunning(-1));
}

TEST(SplitParameters, BlanksAndQuotes)
{
    EXPECT_EQ(SplitParameters("d temp.del 1 A 18 w"),
              (std::vector<std::string>{"d", "temp.del", "1", "A", "18", "w"}));
    EXPECT_EQ(SplitParameters("  a  \"b c\" \"\" d "),
              (std::vector<std::string>{"a", "b c", "", "d"}));
    EXPECT_TRUE(SplitParameters("").empty());
}

TEST(System, ProcessFacts)
{
    std::string Dir = ExecutableDir();
    ASSERT_FALSE(Dir.empty());
    EXPECT_EQ(Dir.back(), '/');
    EXPECT_TRUE(fs::exists(Dir + "platform_tests"));
    EXPECT_GT(OSMajorVersion(), 0);
}

}  // namespace
