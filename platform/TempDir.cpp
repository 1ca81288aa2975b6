#include "platform/TempDir.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string GetTempPath()
{
    std::string Base = "/tmp";
    if (const char* Tmp = std::getenv("TMPDIR"); Tmp && *Tmp == '/')
        Base = Tmp;
    while (Base.size() > 1 && Base.back() == '/')
        Base.pop_back();
    std::string Dir = Base + "/marrowtide-" + std::to_string(::getuid());

    if (::mkdir(Dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw EAPIException("GetTempPath failed.");
    struct stat Info {};
    if (::lstat(Dir.c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode) ||
        Info.st_uid != ::getuid() || (Info.st_mode & 077) != 0)
        throw EAPIException("GetTempPath failed.");
    return Dir + "/";
}
