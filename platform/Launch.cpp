#include "platform/Launch.h"

#include "platform/FileHandle.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <linux/close_range.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

intptr_t ResultOfErrno(int Errno)
{
    switch (Errno) {
    case ENOENT: return SE_ERR_FNF;
    case ENOTDIR: return SE_ERR_PNF;
    case EACCES:
    case EPERM: return SE_ERR_ACCESSDENIED;
    case ENOMEM: return SE_ERR_OOM;
    default: return SE_ERR_ACCESSDENIED;
    }
}

bool IsDirectory(const std::string& Path)
{
    struct stat Info {};
    return ::stat(Path.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode);
}

// What the launched side reports through the pipe: its pid, or why it could not start.
struct TReport {
    int Kind;  // 0: started, Value is the pid; 1: failed, Value is the errno
    int Value;
};

void SendReport(int Fd, int Kind, int Value)
{
    TReport Report{Kind, Value};
    (void)!::write(Fd, &Report, sizeof Report);
}

// Starts Program detached: a grandchild that init adopts, so it never lingers as our zombie.
// The pipe closes on a successful exec; a failed one sends its error number first.
TLaunch SpawnDetached(const std::string& Program, const std::vector<std::string>& Arguments,
                      const std::string& Directory)
{
    std::vector<std::string> Copies;
    Copies.push_back(Program);
    Copies.insert(Copies.end(), Arguments.begin(), Arguments.end());
    std::vector<char*> Argv;
    for (std::string& Argument : Copies)
        Argv.push_back(Argument.data());
    Argv.push_back(nullptr);

    int Pipe[2];
    if (::pipe2(Pipe, O_CLOEXEC) != 0)
        return {SE_ERR_OOM, -1};
    TFileHandle ReadEnd(Pipe[0]), WriteEnd(Pipe[1]);
    pid_t Child = ::fork();
    if (Child < 0)
        return {SE_ERR_OOM, -1};
    if (Child == 0) {
        ReadEnd.Reset();
        ::setsid();
        pid_t Grandchild = ::fork();
        if (Grandchild != 0) {
            if (Grandchild < 0)
                SendReport(WriteEnd.Get(), 1, ENOMEM);
            ::_exit(0);
        }
        int Null = ::open("/dev/null", O_RDWR);
        if (Null >= 0) {
            ::dup2(Null, 0);
            ::dup2(Null, 1);
            ::dup2(Null, 2);
            if (Null > 2)
                ::close(Null);
        }
        // Nothing of ours but the report pipe leaks into the program.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        if (::chdir(Directory.c_str()) != 0) {
            SendReport(WriteEnd.Get(), 1, ENOTDIR);
            ::_exit(127);
        }
        SendReport(WriteEnd.Get(), 0, static_cast<int>(::getpid()));
        ::execv(Program.c_str(), Argv.data());
        SendReport(WriteEnd.Get(), 1, errno);
        ::_exit(127);
    }
    WriteEnd.Reset();
    while (::waitpid(Child, nullptr, 0) < 0 && errno == EINTR) {
    }
    TLaunch Result{SE_ERR_OOM, -1};
    TReport Report{};
    for (;;) {
        ssize_t Got = ::read(ReadEnd.Get(), &Report, sizeof Report);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got != sizeof Report)
            break;
        if (Report.Kind == 0) {
            Result = {LaunchSuccess, static_cast<pid_t>(Report.Value)};
        } else {
            Result = {ResultOfErrno(Report.Value), -1};
            break;
        }
    }
    return Result;
}

std::string FindOnPath(const std::string& Name)
{
    const char* Path = std::getenv("PATH");
    std::string Dirs = Path && *Path ? Path : "/usr/local/bin:/usr/bin:/bin";
    size_t Start = 0;
    while (Start <= Dirs.size()) {
        size_t End = Dirs.find(':', Start);
        if (End == std::string::npos)
            End = Dirs.size();
        std::string Candidate = Dirs.substr(Start, End - Start) + "/" + Name;
        if (End > Start && ::access(Candidate.c_str(), X_OK) == 0)
            return Candidate;
        Start = End + 1;
    }
    return "";
}

}  // namespace

std::vector<std::string> SplitParameters(const std::string& Parameters)
{
    std::vector<std::string> Parts;
    std::string Current;
    bool Quoted = false, Any = false;
    for (char C : Parameters) {
        if (C == '"') {
            Quoted = !Quoted;
            Any = true;
        } else if (C == ' ' && !Quoted) {
            if (Any)
                Parts.push_back(Current);
            Current.clear();
            Any = false;
        } else {
            Current += C;
            Any = true;
        }
    }
    if (Any)
        Parts.push_back(Current);
    return Parts;
}

std::string DocumentOpener() { return FindOnPath("xdg-open"); }

TLaunch StartProgram(const std::string& Program, const std::string& Parameters,
                     const std::string& Directory)
{
    if (Program.empty() || Program[0] != '/')
        return {SE_ERR_FNF, -1};
    if (Directory.empty() || !IsDirectory(Directory))
        return {SE_ERR_PNF, -1};
    struct stat Info {};
    if (::stat(Program.c_str(), &Info) != 0)
        return {ResultOfErrno(errno), -1};
    if (!S_ISREG(Info.st_mode))
        return {SE_ERR_ACCESSDENIED, -1};
    return SpawnDetached(Program, SplitParameters(Parameters), Directory);
}

bool ProcessRunning(pid_t Pid)
{
    if (Pid <= 0 || (::kill(Pid, 0) != 0 && errno != EPERM))
        return false;
    std::ifstream Stat("/proc/" + std::to_string(Pid) + "/stat");
    std::string Line;
    if (!std::getline(Stat, Line))
        return true;
    // The state follows the command name, which is in parentheses and may hold blanks.
    size_t Close = Line.rfind(')');
    return Close == std::string::npos || Close + 2 >= Line.size() || Line[Close + 2] != 'Z';
}
