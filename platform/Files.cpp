#include "platform/Files.h"

#include "platform/Errors.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TFd {
    int Fd = -1;
    ~TFd()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
};


}  // namespace

bool WriteAll(int Fd, const void* Data, size_t Length)
{
    const char* Next = static_cast<const char*>(Data);
    while (Length > 0) {
        const ssize_t Put = ::write(Fd, Next, Length);
        if (Put < 0 && errno == EINTR)
            continue;
        if (Put <= 0) {
            if (Put == 0)
                errno = EIO;
            return false;
        }
        Next += Put;
        Length -= static_cast<size_t>(Put);
    }
    return true;
}

std::string ResolveNoCase(const std::string& Path)
{
    struct stat Info {};
    if (::lstat(Path.c_str(), &Info) == 0)
        return Path;
    size_t Slash = Path.find_last_of('/');
    std::string Dir = Slash == std::string::npos ? "." : Path.substr(0, Slash + 1);
    std::string Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
    if (Name.empty())
        return Path;
    std::string Found = Path;
    if (DIR* Listing = ::opendir(Dir.c_str())) {
        while (const dirent* Entry = ::readdir(Listing))
            if (::strcasecmp(Entry->d_name, Name.c_str()) == 0) {
                Found = (Slash == std::string::npos ? "" : Dir) + Entry->d_name;
                break;
            }
        ::closedir(Listing);
    }
    return Found;
}

bool FileExists(const std::string& Path)
{
    struct stat Info {};
    return ::stat(ResolveNoCase(Path).c_str(), &Info) == 0 && !S_ISDIR(Info.st_mode);
}

bool FileExistsExactly(const std::string& Path)
{
    struct stat Info {};
    return ::stat(Path.c_str(), &Info) == 0 && !S_ISDIR(Info.st_mode);
}

bool DeleteFile(const std::string& Path)
{
    std::string Resolved = ResolveNoCase(Path);
    struct stat Info {};
    if (::lstat(Resolved.c_str(), &Info) != 0 || S_ISDIR(Info.st_mode))
        return false;
    return ::unlink(Resolved.c_str()) == 0;
}

int64_t FileSize(const std::string& Path)
{
    struct stat Info {};
    if (::stat(ResolveNoCase(Path).c_str(), &Info) != 0 || S_ISDIR(Info.st_mode))
        return -1;
    return Info.st_size;
}

bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists)
{
    TFd In;
    In.Fd = ::open(ResolveNoCase(Source).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat Info {};
    if (In.Fd < 0 || ::fstat(In.Fd, &Info) != 0 || !S_ISREG(Info.st_mode))
        return false;
    std::string Destination = ResolveNoCase(Target);
    if (FailIfExists && FileExists(Destination))
        return false;

    std::string Temporary = Destination + ".copy" + std::to_string(::getpid());
    mode_t Mode = (Info.st_mode & 0111) ? 0755 : 0644;
    TFd Out;
    Out.Fd = ::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode);
    if (Out.Fd < 0)
        return false;
    bool Ok = true;
    char Buffer[65536];
    for (;;) {
        ssize_t Got = ::read(In.Fd, Buffer, sizeof Buffer);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0 || (Got > 0 && !WriteAll(Out.Fd, Buffer, static_cast<size_t>(Got))))
            Ok = false;
        if (Got <= 0)
            break;
    }
    // The umask may have taken bits away; the copy runs when the original did.
    Ok = Ok && ::fchmod(Out.Fd, Mode) == 0;
    Ok = Ok && ::fsync(Out.Fd) == 0;
    Ok = ::close(Out.Fd) == 0 && Ok;
    Out.Fd = -1;
    if (Ok && FailIfExists)
        Ok = ::link(Temporary.c_str(), Destination.c_str()) == 0;
    else if (Ok)
        Ok = ::rename(Temporary.c_str(), Destination.c_str()) == 0;
    ::unlink(Temporary.c_str());
    return Ok;
}

void RewriteTextFile(const std::string& Path)
{
    int Fd = ::open(ResolveNoCase(Path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (Fd < 0)
        throw EInOutError(InOutErrorOfErrno(errno));
    if (::close(Fd) != 0)
        throw EInOutError(InOutErrorOfErrno(errno));
}

std::string ReadFirstLine(const std::string& Path)
{
    TFd In;
    In.Fd = ::open(ResolveNoCase(Path).c_str(), O_RDONLY | O_CLOEXEC);
    if (In.Fd < 0)
        throw EInOutError(InOutErrorOfErrno(errno));
    // Shared read: a writer's exclusive lock is a sharing violation, as on Windows.
    if (::flock(In.Fd, LOCK_SH | LOCK_NB) != 0)
        throw EInOutError(errno == EWOULDBLOCK ? 32 : InOutErrorOfErrno(errno));
    std::string Line;
    char Buffer[256];
    for (;;) {
        ssize_t Got = ::read(In.Fd, Buffer, sizeof Buffer);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0)
            throw EInOutError(InOutErrorOfErrno(errno));
        if (Got == 0)
            break;
        std::string_view Chunk(Buffer, static_cast<size_t>(Got));
        size_t End = Chunk.find_first_of("\r\n");
        Line.append(Chunk.substr(0, End));
        if (End != std::string_view::npos || Line.size() > 4096)
            break;
    }
    int Closed = ::close(In.Fd);
    In.Fd = -1;
    if (Closed != 0)
        throw EInOutError(InOutErrorOfErrno(errno));
    return Line;
}

int OpenBinaryFile(const std::string& Path, int FileMode)
{
    int Access = FileMode & 3;
    int Flags = Access == 0 ? O_RDONLY : Access == 1 ? O_WRONLY : O_RDWR;
    int Fd = ::open(ResolveNoCase(Path).c_str(), Flags | O_CLOEXEC);
    if (Fd < 0)
        throw EInOutError(InOutErrorOfErrno(errno));
    return Fd;
}
