#include "platform/TempDir.h"

#include "platform/Errors.h"
#include "platform/FileHandle.h"

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
    const TFileHandle Folder(::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat Info {};
    return Folder.Valid() && ::fstat(Folder.Get(), &Info) == 0 && S_ISDIR(Info.st_mode) &&
           Info.st_uid == ::getuid() && (Info.st_mode & 077) == 0;
}

// Opens File and takes its exclusive lock, waiting for it or not; none (errno set) when that
// fails.
TFileHandle TakeLock(const std::string& File, int Flags, bool Wait)
{
    TFileHandle Lock(::open(File.c_str(), Flags | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!Lock.Valid())
        return Lock;
    int Locked;
    while ((Locked = ::flock(Lock.Get(), LOCK_EX | (Wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (Locked != 0)
        Lock.Reset();
    return Lock;
}

void RemoveTree(const std::string& Dir)
{
    std::error_code Ignored;
    std::filesystem::remove_all(Dir, Ignored);
}

// Takes the lock of the fresh folder Dir. The lock file gets its name only once it is locked,
// so a sweep never finds it free while its program still starts.
TFileHandle LockFreshFolder(const std::string& Dir)
{
    const std::string Fresh = Dir + "/.lock-new";
    TFileHandle Lock = TakeLock(Fresh, O_CREAT | O_EXCL, false);
    if (Lock.Valid() && ::rename(Fresh.c_str(), (Dir + "/" + LockName).c_str()) != 0)
        Lock.Reset();
    return Lock;
}

// Removes Dir when it is a private folder of ours whose program has ended (its lock is free).
void RemoveIfEnded(const std::string& Dir)
{
    if (!IsPrivateFolder(Dir))
        return;
    const TFileHandle Lock = TakeLock(Dir + "/" + LockName, 0, false);
    if (Lock.Valid())
        RemoveTree(Dir);
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
        const TFileHandle Lock = TakeLock(Run + "/" + LockName, 0, false);
        if (Lock.Valid() || errno == ENOENT)
            RemoveTree(Run);
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
        TFileHandle UserLock = TakeLock(UserDir + "/.lock", O_CREAT, true);
        if (UserLock.Valid()) {
            SweepEndedRuns(UserDir);
            std::string Template = UserDir + "/" + RunPrefix + std::to_string(::getpid()) + "-XXXXXX";
            if (::mkdtemp(Template.data())) {
                Lock = TakeLock(Template + "/" + LockName, O_CREAT | O_EXCL, false);
                if (Lock.Valid())
                    Folder = Template + "/";
                else
                    RemoveTree(Template);
            }
            UserLock.Reset();
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
    if (!Lock.Valid()) {
        RemoveTree(Template);
        throw EAPIException("GetTempPath failed.");
    }
    Folder = Template + "/";
}

void TWorkFolder::Remove()
{
    if (!Folder.empty())
        RemoveTree(Folder);
}
