#include "platform/MemoryFile.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/Files.h"

TMemoryFile::TMemoryFile(const std::vector<uint8_t>& Bytes)
    : Handle(::memfd_create("marrowtide-dump", MFD_CLOEXEC))
{
    if (!Handle.Valid() || !WriteAll(Handle.Get(), Bytes.data(), Bytes.size()))
        throw std::runtime_error(std::string("cannot hold a dump in memory: ") +
                                 std::strerror(errno));
    Name = "/proc/self/fd/" + std::to_string(Handle.Get());
}
