#include "platform/Files.h"

#include "platform/Errors.h"
#include "platform/FileHandle.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

int64_t ReadAll(int Fd, int64_t Limit, const std::function<void(const char*, size_t)>& Take)
{
    int64_t Total = 0;
    char Buffer[65536];
    while (Total <= Limit) {
        const ssize_t Got = ::read(Fd, Buffer, sizeof Buffer);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0)
            return -1;
        if (Got == 0)
            break;
        Total += Got;
        Take(Buffer, size_t(Got));
    }
    return Total;
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
    const TFileHandle In(::open(ResolveNoCase(Source).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat Info {};
    if (!In.Valid() || ::fstat(In.Get(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return false;
    std::string Destination = ResolveNoCase(Target);
    if (FailIfExists && FileExists(Destination))
        return false;

    std::string Temporary = Destination + ".copy" + std::to_string(::getpid());
    mode_t Mode = (Info.st_mode & 0111) ? 0755 : 0644;
    TFileHandle Out(::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode));
    if (!Out.Valid())
        return false;
    bool Ok = true;
    char Buffer[65536];
    for (;;) {
        ssize_t Got = ::read(In.Get(), Buffer, sizeof Buffer);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0 || (Got > 0 && !WriteAll(Out.Get(), Buffer, static_cast<size_t>(Got))))
            Ok = false;
        if (Got <= 0)
            break;
    }
    // The umask may have taken bits away; the copy runs when the original did.
    Ok = Ok && ::fchmod(Out.Get(), Mode) == 0;
    Ok = Ok && ::fsync(Out.Get()) == 0;
    Ok = Out.Close() && Ok;
    if (Ok && FailIfExists)
        Ok = ::link(Temporary.c_str(), Destination.c_str()) == 0;
    else if (Ok)
        Ok = ::rename(Temporary.c_str(), Destination.c_str()) == 0;
    ::unlink(Temporary.c_str());
    return Ok;
}

void RewriteTextFile(const std::string& Path)
{
    TFileHandle File(::open(ResolveNoCase(Path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!File.Valid() || !File.Close())
        throw EInOutError(InOutErrorOfErrno(errno));
}

std::string ReadFirstLine(const std::string& Path)
{
    TFileHandle In(::open(ResolveNoCase(Path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!In.Valid())
        throw EInOutError(InOutErrorOfErrno(errno));
    // Shared read: a writer's exclusive lock is a sharing violation, as on Windows.
    if (::flock(In.Get(), LOCK_SH | LOCK_NB) != 0)
        throw EInOutError(errno == EWOULDBLOCK ? 32 : InOutErrorOfErrno(errno));
    std::string Line;
    char Buffer[256];
    for (;;) {
        ssize_t Got = ::read(In.Get(), Buffer, sizeof Buffer);
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
    if (!In.Close())
        throw EInOutError(InOutErrorOfErrno(errno));
    return Line;
}
