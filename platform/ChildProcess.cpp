#include "platform/ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/MemoryFile.h"

namespace {

// The child's own exit statuses: a library that calls exit() itself, or a sanitizer that
// reports a crash and exits, ends with some other status and is taken for a failure.
constexpr int Returned = 90, Threw = 91, ThrewUnknown = 92;

}  // namespace

std::vector<uint8_t> RunInChildProcess(const std::function<std::vector<uint8_t>()>& Work,
                                       unsigned Seconds)
{
    // The child's result, or its failure's text, comes back in a file in memory.
    TMemoryFile Result;
    const pid_t Child = ::fork();
    if (Child < 0)
        throw std::runtime_error(std::string("cannot start a process: ") + std::strerror(errno));
    if (Child == 0) {
        // Ctrl-C is the parent's to handle (and its unfinished outputs its to remove).
        for (const int Signal : {SIGINT, SIGTERM, SIGHUP})
            ::signal(Signal, SIG_DFL);
        ::alarm(Seconds);
        int Status = Returned;
        try {
            const std::vector<uint8_t> Bytes = Work();
            Result.Append(Bytes.data(), Bytes.size());
        } catch (const std::exception& E) {
            Result.Append(E.what(), std::strlen(E.what()));
            Status = Threw;
        } catch (...) {
            Status = ThrewUnknown;
        }
        // No destructors, no atexit handlers, no stdio flushes: they are the parent's.
        ::_exit(Status);
    }
    int Status = 0;
    while (::waitpid(Child, &Status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error(std::string("cannot wait for a process: ") +
                                     std::strerror(errno));
    if (WIFSIGNALED(Status))
        throw EChildCrashed(::strsignal(WTERMSIG(Status)), WTERMSIG(Status));
    std::vector<uint8_t> Bytes = Result.Contents();
    if (WEXITSTATUS(Status) == Threw)
        throw std::runtime_error(std::string(Bytes.begin(), Bytes.end()));
    if (WEXITSTATUS(Status) != Returned)
        throw EChildCrashed("it ended the process with exit status " +
                                std::to_string(WEXITSTATUS(Status)), 0);
    return Bytes;
}
