#include "platform/AtomicFile.h"
#include "platform/Files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* HiddenPrefix = "/.marrowtide-";

std::string FolderOf(const std::string& Path)
{
    const auto Slash = Path.find_last_of('/');
    if (Slash == std::string::npos)
        return ".";
    return Slash == 0 ? "/" : Path.substr(0, Slash);
}

// Named files that a signal handler may have to remove: plain storage and atomic flags only.
constexpr int TemporarySlots = 64;
struct TTemporarySlot {
    std::atomic<int> State{0};  // 0 free, 1 being filled or emptied, 2 listed
    char Path[PATH_MAX];
};
TTemporarySlot Temporaries[TemporarySlots];

int ListTemporary(const std::string& Path)
{
    if (Path.size() >= PATH_MAX)
        return -1;
    for (int I = 0; I < TemporarySlots; ++I) {
        int Free = 0;
        if (Temporaries[I].State.compare_exchange_strong(Free, 1)) {
            std::memcpy(Temporaries[I].Path, Path.c_str(), Path.size() + 1);
            Temporaries[I].State.store(2);
            return I;
        }
    }
    return -1;
}

void UnlistTemporary(int& Slot)
{
    if (Slot >= 0) {
        Temporaries[Slot].State.store(1);
        Temporaries[Slot].State.store(0);
    }
    Slot = -1;
}

std::string RandomLetters()
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char Bytes[6];
    if (::getrandom(Bytes, sizeof Bytes, GRND_NONBLOCK) != ssize_t(sizeof Bytes)) {
        const auto Seed = static_cast<unsigned long>(::time(nullptr)) ^ (unsigned long)::getpid() * 2654435761u ^
                          static_cast<unsigned long>(::clock());
        for (size_t I = 0; I < sizeof Bytes; ++I)
            Bytes[I] = static_cast<unsigned char>(Seed >> (5 * I));
    }
    std::string Text;
    for (unsigned char B : Bytes)
        Text += Letters[B % (sizeof Letters - 1)];
    return Text;
}

std::string RandomName(const std::string& Folder)
{
    return Folder + HiddenPrefix + RandomLetters();
}

// A visible name beside Target for a finished file that may not take Target's own:
// "box/disk.144" gives "box/disk.kept-k3Jd8a.144".
std::string KeptName(const std::string& Target)
{
    const size_t Slash = Target.find_last_of('/');
    const size_t Point = Target.find_last_of('.');
    const bool Extension = Point != std::string::npos &&
                           (Slash == std::string::npos || Point > Slash + 1);
    const size_t Split = Extension ? Point : Target.size();
    return Target.substr(0, Split) + ".kept-" + RandomLetters() + Target.substr(Split);
}

}  // namespace

TAtomicFile::~TAtomicFile() { Discard(); }

void TAtomicFile::RemoveTemporariesNow()
{
    for (auto& Slot : Temporaries)
        if (Slot.State.load() == 2)
            ::unlink(Slot.Path);
}

bool TAtomicFile::Open(const std::string& Path, mode_t Mode, bool ReplaceTarget)
{
    Discard();
    Target = Path;
    Replace = ReplaceTarget;
    Kept.clear();
    const std::string Folder = FolderOf(Target);
    // An unnamed file can only be named later through /proc.
    if (::access("/proc/self/fd", X_OK) == 0) {
        Fd.Reset(::open(Folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (!Fd.Valid() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
    }
    if (!Fd.Valid()) {
        std::string Name = Folder + HiddenPrefix + "XXXXXX";
        Fd.Reset(::mkostemp(Name.data(), O_CLOEXEC));
        if (!Fd.Valid())
            return false;
        Temporary = Name;
        Slot = ListTemporary(Name);
    }
    if (::fchmod(Fd.Get(), Mode) != 0) {
        const int Error = errno;
        Discard();
        errno = Error;
        return false;
    }
    return true;
}

// Gives the unnamed file the target's name: directly when there is no target yet, else (when
// replacing) under a fresh hidden name that is then renamed over the target.
bool TAtomicFile::LinkIntoPlace()
{
    const std::string Self = "/proc/self/fd/" + std::to_string(Fd.Get());
    if (::linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Target.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    if (!Replace) {
        Keep();
        errno = EEXIST;
        return false;
    }
    const std::string Folder = FolderOf(Target);
    for (int Try = 0; Try < 100; ++Try) {
        const std::string Name = RandomName(Folder);
        if (::linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        Slot = ListTemporary(Name);
        const bool Ok = ::rename(Name.c_str(), Target.c_str()) == 0;
        const int Error = errno;
        if (!Ok)
            ::unlink(Name.c_str());
        UnlistTemporary(Slot);
        errno = Error;
        return Ok;
    }
    return false;
}

bool TAtomicFile::Commit(bool Durable)
{
    if (!Fd.Valid()) {
        errno = EBADF;
        return false;
    }
    bool Ok = !Durable || ::fsync(Fd.Get()) == 0;
    if (Temporary.empty()) {
        Ok = Ok && LinkIntoPlace();
        Fd.Reset();
    } else {
        Ok = Fd.Close() && Ok;
        if (Ok) {
            const int Error = Replace ? (::rename(Temporary.c_str(), Target.c_str()) == 0 ? 0 : errno)
                                      : RenameWithoutReplacing(Temporary, Target);
            Ok = Error == 0;
            errno = Error;
        }
        if (!Ok && !Replace && errno == EEXIST) {
            Keep();
            errno = EEXIST;
        }
        const int Error = errno;
        if (!Ok && Kept.empty())
            ::unlink(Temporary.c_str());
        errno = Error;
    }
    const int Error = errno;
    UnlistTemporary(Slot);
    Temporary.clear();
    if (Ok && Durable) {
        // Makes the new name itself durable.
        const TFileHandle Dir(::open(FolderOf(Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (Dir.Valid())
            ::fsync(Dir.Get());
    }
    errno = Error;
    return Ok;
}

void TAtomicFile::Keep()
{
    const std::string Self = "/proc/self/fd/" + std::to_string(Fd.Get());
    for (int Try = 0; Try < 100; ++Try) {
        const std::string Name = KeptName(Target);
        const int Error =
            !Temporary.empty() ? RenameWithoutReplacing(Temporary, Name)
            : ::linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Name.c_str(), AT_SYMLINK_FOLLOW) == 0
                ? 0
                : errno;
        if (Error == 0) {
            Kept = Name;
            return;
        }
        if (Error != EEXIST)
            return;
    }
}

void TAtomicFile::Discard()
{
    Fd.Reset();
    if (!Temporary.empty())
        ::unlink(Temporary.c_str());
    UnlistTemporary(Slot);
    Temporary.clear();
}

int RenameWithoutReplacing(const std::string& From, const std::string& To)
{
    if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without the flag: a second hard link never replaces either.
    if (::link(From.c_str(), To.c_str()) != 0)
        return errno;
    ::unlink(From.c_str());
    return 0;
}

int ReplaceFileWithText(const std::string& Target, const std::string& Text, mode_t Mode,
                        bool Durable)
{
    TAtomicFile File;
    if (!File.Open(Target, Mode))
        return errno ? errno : EIO;
    if (!WriteAll(File.Handle(), Text.data(), Text.size()) || !File.Commit(Durable)) {
        const int Error = errno ? errno : EIO;
        File.Discard();
        return Error;
    }
    return 0;
}
