#include "SafeOutput.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& Path)
{
    const auto Slash = Path.find_last_of('/');
    if (Slash == std::string::npos)
        return ".";
    return Slash == 0 ? "/" : Path.substr(0, Slash);
}

// Read once: umask() can only be read by setting it, which would race with other threads.
mode_t ProcessUmask()
{
    static const mode_t Mask = [] {
        if (FILE* Status = std::fopen("/proc/self/status", "r")) {
            char Line[256];
            unsigned Value = 0;
            bool Found = false;
            while (!Found && std::fgets(Line, sizeof Line, Status))
                Found = std::sscanf(Line, "Umask: %o", &Value) == 1;
            std::fclose(Status);
            if (Found)
                return static_cast<mode_t>(Value);
        }
        const mode_t Old = ::umask(022);
        ::umask(Old);
        return Old;
    }();
    return Mask;
}

// Temporaries that a signal handler may have to remove: plain storage and atomic flags only.
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

void UnlistTemporary(int Slot)
{
    if (Slot >= 0) {
        Temporaries[Slot].State.store(1);
        Temporaries[Slot].State.store(0);
    }
}

} // namespace

void TSafeOutput::RemoveTemporariesNow()
{
    for (auto& Slot : Temporaries)
        if (Slot.State.load() == 2)
            ::unlink(Slot.Path);
}

TSafeOutput::~TSafeOutput() { Discard(); }

bool TSafeOutput::Open(const std::string& Path)
{
    Discard();
    if (Path.empty())
        return false;
    Target = Path;
    struct stat St;
    mode_t Mode = 0666 & ~ProcessUmask();
    if (::stat(Path.c_str(), &St) == 0) {
        if (!S_ISREG(St.st_mode)) {
            Fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC);
            return Fd >= 0;
        }
        Mode = St.st_mode & 07777;
        // Replace the file a link points to, not the link.
        if (char* Real = ::realpath(Path.c_str(), nullptr)) {
            Target = Real;
            std::free(Real);
        }
    }
    std::string Name = FolderOf(Target) + "/.marrowtide-XXXXXX";
    Fd = ::mkostemp(Name.data(), O_CLOEXEC);
    if (Fd < 0)
        return false;
    Temporary = Name;
    Slot = ListTemporary(Name);
    ::fchmod(Fd, Mode);
    return true;
}

bool TSafeOutput::Commit()
{
    if (Fd < 0)
        return false;
    if (Temporary.empty()) {
        const bool Ok = ::close(Fd) == 0;
        Fd = -1;
        return Ok;
    }
    bool Ok = ::fsync(Fd) == 0;
    Ok = ::close(Fd) == 0 && Ok;
    Fd = -1;
    if (Ok)
        Ok = ::rename(Temporary.c_str(), Target.c_str()) == 0;
    if (!Ok)
        ::unlink(Temporary.c_str());
    UnlistTemporary(Slot);
    Slot = -1;
    Temporary.clear();
    return Ok;
}

void TSafeOutput::Discard()
{
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
    if (!Temporary.empty())
        ::unlink(Temporary.c_str());
    UnlistTemporary(Slot);
    Slot = -1;
    Temporary.clear();
}
