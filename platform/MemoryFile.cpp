#include "platform/MemoryFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/Files.h"

namespace {

[[noreturn]] void Fail()
{
    throw std::runtime_error(std::string("cannot hold a file in memory: ") + std::strerror(errno));
}

}  // namespace

TMemoryFile::TMemoryFile() : Handle(::memfd_create("marrowtide", MFD_CLOEXEC))
{
    if (!Handle.Valid())
        Fail();
    Name = "/proc/self/fd/" + std::to_string(Handle.Get());
}

TMemoryFile::TMemoryFile(const std::vector<uint8_t>& Bytes) : TMemoryFile()
{
    Append(Bytes.data(), Bytes.size());
}

void TMemoryFile::Append(const void* Bytes, size_t Count)
{
    if (!WriteAll(Handle.Get(), Bytes, Count))
        Fail();
}

std::vector<uint8_t> TMemoryFile::Contents() const
{
    std::vector<uint8_t> Bytes;
    uint8_t Buffer[65536];
    for (;;) {
        const ssize_t Got = ::pread(Handle.Get(), Buffer, sizeof Buffer, off_t(Bytes.size()));
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0)
            Fail();
        if (Got == 0)
            return Bytes;
        Bytes.insert(Bytes.end(), Buffer, Buffer + Got);
    }
}
