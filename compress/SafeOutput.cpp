#include "SafeOutput.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

void TSafeOutput::RemoveTemporariesNow() { TAtomicFile::RemoveTemporariesNow(); }

TSafeOutput::~TSafeOutput() { Discard(); }

bool TSafeOutput::Open(const std::string& Path, bool Replace)
{
    Discard();
    if (Path.empty())
        return false;
    // Our own standard output is written where the shell put it (a pipe, a terminal, or a
    // file opened for appending), never replaced by name.
    if (Path == "/dev/stdout") {
        Direct.Reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        return Direct.Valid();
    }
    std::string Target = Path;
    struct stat St;
    mode_t Mode = 0666 & ~ProcessUmask();
    if (::stat(Path.c_str(), &St) == 0) {
        if (!S_ISREG(St.st_mode)) {
            Direct.Reset(::open(Path.c_str(), O_WRONLY | O_CLOEXEC));
            return Direct.Valid();
        }
        Mode = St.st_mode & 07777;
        // Replace the file a link points to, not the link.
        if (char* Real = Replace ? ::realpath(Path.c_str(), nullptr) : nullptr) {
            Target = Real;
            std::free(Real);
        }
    }
    return File.Open(Target, Mode, Replace);
}

bool TSafeOutput::Commit()
{
    if (Direct.Valid())
        return Direct.Close();
    return File.Commit();
}

void TSafeOutput::Discard()
{
    Direct.Reset();
    File.Discard();
}
