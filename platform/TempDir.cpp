#include "platform/TempDir.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const LockName = "lock";
const char* const RunPrefix = "run-";

std::string TempBase()
{
    std::string Base = "/tmp";
    if (const char* Tmp = std::getenv("TMPDIR"); Tmp && *Tmp == '/')
        Base = Tmp;
    while (Base.size() > 1 && Base.back() == '/')
        Base.pop_back();
    return Base;
}

// A real folder (no link) of ours that nobody else may enter, checked on the opened folder so
// that it cannot be swapped between the check and the use.
bool IsPrivateFolder(const std::string& Dir)
{
    int Fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (Fd < 0)
        return false;
    struct stat Info {};
    bool Private = ::fstat(Fd, &Info) == 0 && S_ISDIR(Info.st_mode) &&
                   Info.st_uid == ::getuid() && (Info.st_mode & 077) == 0;
    ::close(Fd);
    return Private;
}

// Opens File and takes its exclusive lock, waiting for it or not; -1 when that fails.
int TakeLock(const std::string& File, int Flags, bool Wait)
{
    int Fd = ::open(File.c_str(), Flags | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (Fd < 0)
        return -1;
    int Locked;
    while ((Locked = ::flock(Fd, LOCK_EX | (Wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (Locked != 0) {
        int Error = errno;
        ::close(Fd);
        errno = Error;
        return -1;
    }
    return Fd;
}

void RemoveTree(const std::string& Dir)
{
    std::error_code Ignored;
    std::filesystem::remove_all(Dir, Ignored);
}

// Takes the lock of the fresh folder Dir. The lock file gets its name only once it is locked,
// so a sweep never finds it free while its program still starts.
int LockFreshFolder(const std::string& Dir)
{
    const std::string Fresh = Dir + "/.lock-new";
    const int Fd = TakeLock(Fresh, O_CREAT | O_EXCL, false);
    if (Fd >= 0 && ::rename(Fresh.c_str(), (Dir + "/" + LockName).c_str()) == 0)
        return Fd;
    if (Fd >= 0)
        ::close(Fd);
    return -1;
}

// Removes Dir when it is a private folder of ours whose program has ended (its lock is free).
void RemoveIfEnded(const std::string& Dir)
{
    if (!IsPrivateFolder(Dir))
        return;
    const int Fd = TakeLock(Dir + "/" + LockName, 0, false);
    if (Fd >= 0) {
        RemoveTree(Dir);
        ::close(Fd);
    }
}

// The fresh folders made in Base in place of a refused per-user folder, by programs that ended.
void SweepEndedFallbacks(const std::string& Base, const std::string& UserDirName)
{
    DIR* Listing = ::opendir(Base.c_str());
    if (!Listing)
        return;
    const std::string Prefix = UserDirName + "-";
    while (const dirent* Entry = ::readdir(Listing)) {
        const std::string Name = Entry->d_name;
        if (Name.size() == Prefix.size() + 6 && Name.rfind(Prefix, 0) == 0)
            RemoveIfEnded(Base + "/" + Name);
    }
    ::closedir(Listing);
}

// Removes the run folders whose program has ended: their lock is free. A run folder without a
// lock file is one whose program died while making it (runs are made under the per-user lock,
// which the caller holds).
void SweepEndedRuns(const std::string& UserDir)
{
    DIR* Listing = ::opendir(UserDir.c_str());
    if (!Listing)
        return;
    while (const dirent* Entry = ::readdir(Listing)) {
        std::string Name = Entry->d_name;
        if (Name.rfind(RunPrefix, 0) != 0)
            continue;
        std::string Run = UserDir + "/" + Name;
        if (!IsPrivateFolder(Run))
            continue;
        int Fd = TakeLock(Run + "/" + LockName, 0, false);
        if (Fd >= 0 || errno == ENOENT)
            RemoveTree(Run);
        if (Fd >= 0)
            ::close(Fd);
    }
    ::closedir(Listing);
}

}  // namespace

TWorkFolder::TWorkFolder()
{
    const std::string Base = TempBase();
    const std::string UserDirName = "marrowtide-" + std::to_string(::getuid());
    const std::string UserDir = Base + "/" + UserDirName;
    SweepEndedFallbacks(Base, UserDirName);
    if ((::mkdir(UserDir.c_str(), 0700) == 0 || errno == EEXIST) && IsPrivateFolder(UserDir)) {
        // One program at a time makes its folder or sweeps ended ones.
        int UserLock = TakeLock(UserDir + "/.lock", O_CREAT, true);
        if (UserLock >= 0) {
            SweepEndedRuns(UserDir);
            std::string Template = UserDir + "/" + RunPrefix + std::to_string(::getpid()) + "-XXXXXX";
            if (::mkdtemp(Template.data())) {
                Lock = TakeLock(Template + "/" + LockName, O_CREAT | O_EXCL, false);
                if (Lock >= 0)
                    Folder = Template + "/";
                else
                    RemoveTree(Template);
            }
            ::close(UserLock);
        }
        if (Folder.empty())
            throw EAPIException("GetTempPath failed.");
        return;
    }

    // Someone else holds the usual place: a fresh private folder nobody can guess instead.
    RefusedFolder = UserDir;
    std::string Template = UserDir + "-XXXXXX";
    if (!::mkdtemp(Template.data()))
        throw EAPIException("GetTempPath failed.");
    Lock = LockFreshFolder(Template);
    if (Lock < 0) {
        RemoveTree(Template);
        throw EAPIException("GetTempPath failed.");
    }
    Folder = Template + "/";
}

TWorkFolder::~TWorkFolder()
{
    if (Lock >= 0)
        ::close(Lock);
}

void TWorkFolder::Remove()
{
    if (!Folder.empty())
        RemoveTree(Folder);
}
