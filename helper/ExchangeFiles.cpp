#include "helper/ExchangeFiles.h"

#include "helper/Transfer.h"
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TExchangeFiles::TExchangeFiles(std::string WorkDir) : WorkDir(std::move(WorkDir)) {}

std::string TExchangeFiles::PathOf(const std::string& Name) const
{
    if (!Name.empty() && Name.front() == '/')
        return Name;
    if (WorkDir.empty())
        return Name;
    return WorkDir + "/" + Name;
}

void TExchangeFiles::RemoveStaleError() const
{
    const std::string Path = PathOf("error.dat");
    if (::unlink(Path.c_str()) != 0 && errno != ENOENT)
        throw ETransferError("an earlier error.dat cannot be removed: " +
                             std::string(std::strerror(errno)));
}

int TExchangeFiles::ReplaceFile(const std::string& Name, const std::string& Text) const
{
    // The program may read the file at any moment: a reader sees the old or the new text,
    // never a truncated one. Not synced: the files only matter while the program runs.
    return ReplaceFileWithText(PathOf(Name), Text, 0644, false);
}

void TExchangeFiles::ReportProgress(int Value) const
{
    if (const int Error = ReplaceFile("Status.dat", std::to_string(Value) + "\r\n"))
        throw ETransferError("Status.dat cannot be written: " + std::string(std::strerror(Error)));
    if (!OpenRegular("check.dat", O_WRONLY | O_CREAT, "check.dat", "created").Close())
        throw ETransferError("check.dat cannot be created: " + std::string(std::strerror(errno)));
}

bool TExchangeFiles::WriteError(const std::string& Line) const
{
    std::string Text;
    for (char C : Line)
        Text += (C == '\r' || C == '\n') ? ' ' : C;
    return ReplaceFile("error.dat", Text + "\r\n") == 0;
}

bool TExchangeFiles::RemoveWorking() const
{
    const std::string Path = PathOf("working.dat");
    return ::unlink(Path.c_str()) == 0 || errno == ENOENT;
}

TFileHandle TExchangeFiles::OpenRegular(const std::string& Name, int Flags, const std::string& What,
                                        const std::string& Failing) const
{
    const std::string Path = PathOf(Name);
    const std::string NotRegular = What + " is not a regular file; it is refused";
    // Opening a device can act on it: look first, then check what was opened.
    struct stat Info {};
    if (::lstat(Path.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode) && !S_ISLNK(Info.st_mode))
        throw ETransferError(NotRegular);
    int Fd;
    do
        Fd = ::open(Path.c_str(), Flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    while (Fd < 0 && errno == EINTR);
    TFileHandle File(Fd);
    if (Fd < 0 && errno == ELOOP)
        throw ETransferError(What + " is a symbolic link; it is not followed");
    if (Fd < 0 && errno == ENXIO)  // a FIFO nobody reads
        throw ETransferError(NotRegular);
    if (Fd < 0)
        throw ETransferError(What + " cannot be " + Failing + ": " + std::strerror(errno));
    const bool Stated = ::fstat(Fd, &Info) == 0;
    const int Error = errno;
    if (Stated && S_ISREG(Info.st_mode)) {
        ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
        return File;
    }
    throw ETransferError(Stated ? NotRegular
                                : What + " cannot be " + Failing + ": " + std::strerror(Error));
}
