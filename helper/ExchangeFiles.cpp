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
    const std::string Check = PathOf("check.dat");
    const int Fd = ::open(Check.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (Fd < 0 || ::close(Fd) != 0)
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
