// mount: the image's files through FUSE, read-only, from the dump decoded in memory.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>

#include "cli/FileCommands.h"

namespace {

struct TMounted {
    TLoadedDump Dump;
    std::unique_ptr<TFatVolume> Volume;
    std::map<std::string, const TFatEntry*> ByPath;                // "/DOCS/A.TXT"
    std::map<std::string, std::vector<std::string>> Children;      // "/" and each folder
    std::map<const TFatEntry*, std::vector<uint8_t>> Contents;     // the files that can be read
    timespec Mounted{};
    std::ostream* Out = nullptr;  // told once the folder is mounted; none when quiet
    std::string Said;
    bool WasMounted = false;
};

TMounted& Mounted() { return *static_cast<TMounted*>(fuse_get_context()->private_data); }

void* Init(fuse_conn_info*, fuse_config*)
{
    TMounted& M = Mounted();
    M.WasMounted = true;
    if (M.Out)
        *M.Out << M.Said << std::flush;
    return &M;
}

int GetAttributes(const char* Path, struct stat* Info, fuse_file_info*)
{
    const TMounted& M = Mounted();
    std::memset(Info, 0, sizeof *Info);
    Info->st_uid = ::getuid();
    Info->st_gid = ::getgid();
    if (std::strcmp(Path, "/") == 0) {
        Info->st_mode = S_IFDIR | 0555;
        Info->st_nlink = 2;
        Info->st_mtim = M.Mounted;
        return 0;
    }
    const auto Found = M.ByPath.find(Path);
    if (Found == M.ByPath.end())
        return -ENOENT;
    const TFatEntry& Entry = *Found->second;
    Info->st_mode = Entry.IsDirectory() ? S_IFDIR | 0555 : S_IFREG | 0444;
    Info->st_nlink = Entry.IsDirectory() ? 2 : 1;
    Info->st_size = Entry.Size;
    Info->st_mtim.tv_sec = FatTimeToUnix(Entry.Date, Entry.Time);
    Info->st_atim = Info->st_ctim = Info->st_mtim;
    return 0;
}

int ReadFolder(const char* Path, void* Buffer, fuse_fill_dir_t Fill, off_t, fuse_file_info*,
               fuse_readdir_flags)
{
    const auto Found = Mounted().Children.find(Path);
    if (Found == Mounted().Children.end())
        return -ENOENT;
    Fill(Buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
    Fill(Buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
    for (const std::string& Name : Found->second)
        Fill(Buffer, Name.c_str(), nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int Open(const char* Path, fuse_file_info* File)
{
    const TMounted& M = Mounted();
    const auto Found = M.ByPath.find(Path);
    if (Found == M.ByPath.end())
        return -ENOENT;
    if ((File->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    // A file whose chain cannot give all its bytes is listed but cannot be read.
    return M.Contents.count(Found->second) ? 0 : -EIO;
}

int Read(const char* Path, char* Buffer, size_t Size, off_t Offset, fuse_file_info*)
{
    const TMounted& M = Mounted();
    const auto Found = M.ByPath.find(Path);
    if (Found == M.ByPath.end())
        return -ENOENT;
    const auto Data = M.Contents.find(Found->second);
    if (Data == M.Contents.end())
        return -EIO;
    const std::vector<uint8_t>& Bytes = Data->second;
    if (Offset < 0 || uint64_t(Offset) >= Bytes.size())
        return 0;
    const size_t Count = std::min(Size, Bytes.size() - size_t(Offset));
    std::memcpy(Buffer, Bytes.data() + Offset, Count);
    return static_cast<int>(Count);
}

// The image's name as the mount table shows it, without the characters its options split at.
std::string SourceName(const std::string& Image)
{
    std::string Name = Image;
    for (char& C : Name)
        if (C == ',' || C == '\\' || C == ' ' || C == '\t' || C == '\n')
            C = '_';
    return Name;
}

}  // namespace

int RunMount(const TOptions& Options, std::ostream& Out, std::ostream& Err)
{
    const std::string& Image = Options.Inputs[0];
    const std::string& Folder = Options.Output;
    struct stat Info {};
    if (::stat(Folder.c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode))
        throw std::runtime_error(Folder + ": is not a folder to mount at");

    TMounted M;
    M.Dump = LoadDump(Image);
    try {
        M.Volume = std::make_unique<TFatVolume>(M.Dump.Bytes);
    } catch (const EFatError& E) {
        throw std::runtime_error(Image + ": holds no FAT volume that can be read: " + E.what());
    }
    for (const std::string& Problem : M.Volume->Problems())
        Err << "marrowtide-img: " << Image << ": " << Problem << "\n";
    M.Children["/"];
    for (const TFatEntry& Entry : M.Volume->Entries()) {
        for (const std::string& Problem : Entry.Problems)
            Err << "marrowtide-img: " << Image << ": " << Entry.Path << ": " << Problem << "\n";
        const std::string Path = "/" + Entry.Path;
        const size_t Slash = Path.rfind('/');
        M.ByPath[Path] = &Entry;
        M.Children[Slash == 0 ? "/" : Path.substr(0, Slash)].push_back(Entry.Name);
        if (Entry.IsDirectory()) {
            M.Children[Path];
            continue;
        }
        try {
            M.Contents[&Entry] = M.Volume->ReadFile(Entry);
        } catch (const EFatError&) {
            // Named above with its problems; reading it fails.
        }
    }
    ::clock_gettime(CLOCK_REALTIME, &M.Mounted);

    fuse_operations Operations{};
    Operations.init = Init;
    Operations.getattr = GetAttributes;
    Operations.readdir = ReadFolder;
    Operations.open = Open;
    Operations.read = Read;
    const std::string MountOptions = "ro,default_permissions,fsname=" + SourceName(Image) +
                                     ",subtype=marrowtide";
    std::vector<std::string> Args{"marrowtide-img", "-f", "-s", "-o", MountOptions, Folder};
    std::vector<char*> Argv;
    for (std::string& Arg : Args)
        Argv.push_back(Arg.data());
    // FUSE stops and unmounts on these only where they do what they do by default.
    for (const int Signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(Signal, SIG_DFL);
    M.Out = Options.Quiet ? nullptr : &Out;
    M.Said = Image + " mounted read-only at " + Folder + "; unmount with 'fusermount3 -u " +
             Folder + "' or Ctrl-C\n";
    // Ctrl-C ends the loop with an error code, yet unmounts as cleanly as fusermount3 -u.
    if (fuse_main(int(Argv.size()), Argv.data(), &Operations, &M) != 0 && !M.WasMounted)
        throw std::runtime_error("cannot mount " + Image + " at " + Folder +
                                 " (FUSE said why above)");
    return 0;
}
