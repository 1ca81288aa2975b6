// Temporary work folders, file helpers and a recorder of what happens in a folder, for the
// helper's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"

namespace HelperTest {

inline bool Exists(const std::string& Path)
{
    struct stat Info {};
    return ::lstat(Path.c_str(), &Info) == 0;
}

// A private profile holding WorkDir ("work") beside the user's config folder.
class THelperFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::mkdir(WorkDir.c_str(), 0700), 0); }
    std::string Work(const std::string& Name) const { return WorkDir + "/" + Name; }
    void LinkDrive(char Letter, const std::string& Target) const { Profile.LinkDrive(Letter, Target); }
    void StartRun() const { WriteBytes(Work("working.dat"), {}); }

    TPrivateProfile Profile{"helper-test"};
    const std::string Root = Profile.Path();
    const std::string WorkDir = Profile.Path("work");
    const std::string ConfigHome = Profile.ConfigHome();
};

// The order of file events in a folder: "+name" created or renamed in, "-name" removed.
class TFolderEvents {
public:
    explicit TFolderEvents(const std::string& Folder)
    {
        Fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (Fd >= 0)
            ::inotify_add_watch(Fd, Folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE);
    }
    ~TFolderEvents()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    bool Ready() const { return Fd >= 0; }
    std::vector<std::string> Take()
    {
        std::vector<std::string> Events;
        alignas(inotify_event) char Buffer[65536];
        for (;;) {
            const ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
            if (N <= 0)
                break;
            for (ssize_t At = 0; At < N;) {
                const auto* Event = reinterpret_cast<const inotify_event*>(Buffer + At);
                const std::string Name = Event->len ? Event->name : "";
                if (Name.empty() || Name[0] != '.')  // temporaries are written under a dot name
                    Events.push_back(((Event->mask & IN_DELETE) ? "-" : "+") + Name);
                At += static_cast<ssize_t>(sizeof(inotify_event) + Event->len);
            }
        }
        return Events;
    }

private:
    int Fd = -1;
};

}  // namespace HelperTest
