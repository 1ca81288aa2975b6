// A virtual diskette whose sectors fail on purpose: marrowtide-failing-disk serving a dump
// through FUSE for as long as the object lives. Where FUSE cannot be mounted, Mounted() is false
// and SkipReason() says why; tests then skip.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

struct TFailingDiskOptions {
    std::string Bad;   // "40,100-103"
    std::string Weak;  // "700:3"
    long DelayUs = 0;  // per sector read
    std::string Log;   // a file that gets one line per read
};

class TFailingDisk {
public:
    // Serves the dump Image at Folder/disk (Folder is made); Tool is marrowtide-failing-disk.
    TFailingDisk(const std::string& Tool, const std::string& Image, const std::string& Folder,
                 const TFailingDiskOptions& Options = {})
        : Folder(Folder)
    {
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            Reason = "FUSE cannot be mounted here (/dev/fuse is missing or not usable)";
            return;
        }
        ::mkdir(Folder.c_str(), 0755);
        std::vector<std::string> Args = {Tool, Image, Folder};
        auto Add = [&](const char* Name, const std::string& Value) {
            if (!Value.empty())
                Args.insert(Args.end(), {Name, Value});
        };
        Add("--bad", Options.Bad);
        Add("--weak", Options.Weak);
        Add("--delay-us", Options.DelayUs ? std::to_string(Options.DelayUs) : "");
        Add("--log", Options.Log);
        std::vector<char*> Argv;
        for (std::string& Arg : Args)
            Argv.push_back(Arg.data());
        Argv.push_back(nullptr);
        if (posix_spawn(&Pid, Tool.c_str(), nullptr, nullptr, Argv.data(), environ) != 0) {
            Pid = -1;
            Reason = "marrowtide-failing-disk cannot be started";
            return;
        }
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        struct stat Info {};
        while (::stat(File().c_str(), &Info) != 0) {
            int Status = 0;
            if (::waitpid(Pid, &Status, WNOHANG) == Pid) {
                Pid = -1;
                Reason = "FUSE cannot be mounted here (marrowtide-failing-disk ended)";
                return;
            }
            if (std::chrono::steady_clock::now() > Deadline) {
                ::kill(Pid, SIGTERM);
                ::waitpid(Pid, nullptr, 0);
                Pid = -1;
                Reason = "FUSE cannot be mounted here (no mount within 10 s)";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TFailingDisk()
    {
        if (Pid <= 0)
            return;
        const std::string Unmount = "fusermount3 -u -z '" + Folder + "' 2>/dev/null || umount -l '" +
                                    Folder + "' 2>/dev/null";
        if (std::system(Unmount.c_str()) != 0)
            ::kill(Pid, SIGTERM);
        ::waitpid(Pid, nullptr, 0);
    }
    TFailingDisk(const TFailingDisk&) = delete;
    TFailingDisk& operator=(const TFailingDisk&) = delete;

    bool Mounted() const { return Reason.empty(); }
    const std::string& SkipReason() const { return Reason; }
    // The failing diskette, to put in the drive table.
    std::string File() const { return Folder + "/disk"; }
    // From now on every sector reads well.
    void Heal() const
    {
        if (Pid > 0)
            ::kill(Pid, SIGUSR1);
    }

private:
    std::string Folder;
    pid_t Pid = -1;
    std::string Reason;
};
