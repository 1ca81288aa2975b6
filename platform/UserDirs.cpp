#include "platform/UserDirs.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string HomeDir()
{
    if (const char* Home = std::getenv("HOME"); Home && *Home)
        return Home;
    if (const passwd* Entry = ::getpwuid(::getuid()); Entry && Entry->pw_dir)
        return Entry->pw_dir;
    return "/";
}

bool MakeDirs(const std::string& Path)
{
    for (size_t At = 1; At <= Path.size(); ++At) {
        if (At != Path.size() && Path[At] != '/')
            continue;
        std::string Part = Path.substr(0, At);
        if (::mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0)
        return false;
    if (!S_ISDIR(Info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

}  // namespace

std::string ConfigDir()
{
    std::string Base;
    if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg && *Xdg == '/')
        Base = Xdg;
    else
        Base = HomeDir() + "/.config";
    while (Base.size() > 1 && Base.back() == '/')
        Base.pop_back();
    return Base + "/marrowtide/";
}

std::string EnsureConfigDir(const std::string& Failure)
{
    std::string Dir = ConfigDir();
    if (!MakeDirs(Dir.substr(0, Dir.size() - 1)))
        throw EAPIException(Failure + ": " + std::strerror(errno));
    return Dir;
}
