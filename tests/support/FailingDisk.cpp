// marrowtide-failing-disk: a diskette that fails on purpose, for the tests. Serves the dump
// IMAGE as the read-only file MOUNTPOINT/disk through FUSE with direct_io, so every read reaches
// it as the reader asked for it and fails per sector, as a drive does, not per cached page.
//
//   marrowtide-failing-disk IMAGE MOUNTPOINT [--bad LIST] [--weak LIST] [--delay-us N]
//                           [--log FILE]
//
// --bad 40,100-103   these sectors (counted from 0) always fail with EIO
// --weak 700:3       this sector fails the first 3 reads that touch it, then reads well
// --delay-us N       each sector read takes N microseconds more, as a slow drive
// --log FILE         one line per read: "OFFSET SIZE ok" or "OFFSET SIZE EIO"
// SIGUSR1 heals every sector. Runs in the foreground until unmounted (or SIGTERM).
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int64_t Sector = 512;
const char* const FileName = "disk";

struct TDisk {
    std::vector<char> Bytes;
    std::map<int64_t, int> FailuresLeft;  // sector -> failing reads still to come (-1: always)
    long DelayUs = 0;
    FILE* Log = nullptr;
    std::mutex Lock;
};

TDisk Disk;
std::atomic<bool> Healed{false};

extern "C" void OnHeal(int) { Healed = true; }

[[noreturn]] void Usage(const std::string& Why)
{
    std::fprintf(stderr, "marrowtide-failing-disk: %s\nusage: marrowtide-failing-disk IMAGE "
                         "MOUNTPOINT [--bad LIST] [--weak LIST] [--delay-us N] [--log FILE]\n",
                 Why.c_str());
    std::exit(2);
}

long Whole(const std::string& Text)
{
    char* End = nullptr;
    const long Value = std::strtol(Text.c_str(), &End, 10);
    if (Text.empty() || *End != '\0' || Value < 0)
        Usage("not a number: " + Text);
    return Value;
}

// "A,B-C" for --bad; "A:K,B:K" for --weak.
void AddSectors(const std::string& List, bool Weak)
{
    size_t At = 0;
    while (At <= List.size()) {
        const size_t Comma = std::min(List.find(',', At), List.size());
        const std::string Item = List.substr(At, Comma - At);
        At = Comma + 1;
        if (Weak) {
            const size_t Colon = Item.find(':');
            if (Colon == std::string::npos)
                Usage("--weak takes SECTOR:FAILURES");
            Disk.FailuresLeft[Whole(Item.substr(0, Colon))] = int(Whole(Item.substr(Colon + 1)));
            continue;
        }
        const size_t Dash = Item.find('-');
        const long First = Whole(Item.substr(0, Dash));
        const long Last = Dash == std::string::npos ? First : Whole(Item.substr(Dash + 1));
        for (long S = First; S <= Last; ++S)
            Disk.FailuresLeft[S] = -1;
    }
}

int GetAttr(const char* Path, struct stat* Info, fuse_file_info*)
{
    std::memset(Info, 0, sizeof *Info);
    if (std::strcmp(Path, "/") == 0) {
        Info->st_mode = S_IFDIR | 0755;
        Info->st_nlink = 2;
        return 0;
    }
    if (std::strcmp(Path + 1, FileName) != 0)
        return -ENOENT;
    Info->st_mode = S_IFREG | 0444;
    Info->st_nlink = 1;
    Info->st_size = off_t(Disk.Bytes.size());
    return 0;
}

int ReadDir(const char* Path, void* Buffer, fuse_fill_dir_t Fill, off_t, fuse_file_info*,
            fuse_readdir_flags)
{
    if (std::strcmp(Path, "/") != 0)
        return -ENOENT;
    Fill(Buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
    Fill(Buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
    Fill(Buffer, FileName, nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int Open(const char* Path, fuse_file_info* Info)
{
    if (std::strcmp(Path + 1, FileName) != 0)
        return -ENOENT;
    if ((Info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    Info->direct_io = 1;
    return 0;
}

int Read(const char*, char* Buffer, size_t Size, off_t Offset, fuse_file_info*)
{
    const std::lock_guard<std::mutex> Hold(Disk.Lock);
    const int64_t End = std::min<int64_t>(Offset + int64_t(Size), int64_t(Disk.Bytes.size()));
    if (Offset >= End)
        return 0;
    bool Fails = false;
    if (!Healed)
        for (int64_t S = Offset / Sector; S * Sector < End; ++S) {
            const auto Found = Disk.FailuresLeft.find(S);
            if (Found == Disk.FailuresLeft.end() || Found->second == 0)
                continue;
            Fails = true;
            if (Found->second > 0)
                --Found->second;
        }
    if (Disk.DelayUs > 0)
        ::usleep(useconds_t(Disk.DelayUs * ((End - Offset + Sector - 1) / Sector)));
    if (Disk.Log) {
        std::fprintf(Disk.Log, "%lld %lld %s\n", static_cast<long long>(Offset),
                     static_cast<long long>(End - Offset), Fails ? "EIO" : "ok");
        std::fflush(Disk.Log);
    }
    if (Fails)
        return -EIO;
    std::memcpy(Buffer, Disk.Bytes.data() + Offset, size_t(End - Offset));
    return int(End - Offset);
}

void* Init(fuse_conn_info*, fuse_config* Config)
{
    Config->direct_io = 1;
    Config->kernel_cache = 0;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        Usage("IMAGE and MOUNTPOINT are needed");
    std::ifstream In(argv[1], std::ios::binary);
    if (!In)
        Usage(std::string("cannot read ") + argv[1]);
    Disk.Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    for (int I = 3; I < argc; ++I) {
        const std::string Option = argv[I];
        if (I + 1 >= argc)
            Usage(Option + " needs a value");
        const std::string Value = argv[++I];
        if (Option == "--bad")
            AddSectors(Value, false);
        else if (Option == "--weak")
            AddSectors(Value, true);
        else if (Option == "--delay-us")
            Disk.DelayUs = Whole(Value);
        else if (Option == "--log" && !(Disk.Log = std::fopen(Value.c_str(), "a")))
            Usage("cannot open the log " + Value);
        else if (Option != "--log")
            Usage("unknown option " + Option);
    }
    struct sigaction Action {};
    Action.sa_handler = OnHeal;
    sigemptyset(&Action.sa_mask);
    sigaction(SIGUSR1, &Action, nullptr);

    fuse_operations Operations {};
    Operations.getattr = GetAttr;
    Operations.readdir = ReadDir;
    Operations.open = Open;
    Operations.read = Read;
    Operations.init = Init;
    // Foreground, one thread: reads are answered in the order they come.
    char* FuseArgs[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"),
                        const_cast<char*>("-o"), const_cast<char*>("ro,fsname=failing-disk"),
                        argv[2], nullptr};
    return fuse_main(6, FuseArgs, &Operations, nullptr);
}
