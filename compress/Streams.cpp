#include "Streams.h"

#include "platform/Files.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

int32_t TMemoryStream::Read(void* buffer, int32_t count)
{
    if (count < 0)
        return -1;
    const int64_t Left = Size() - Pos;
    const int32_t N = Left <= 0 ? 0 : static_cast<int32_t>(Left < count ? Left : count);
    if (N > 0)
        std::memcpy(buffer, Bytes.data() + Pos, static_cast<size_t>(N));
    Pos += N;
    return N;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count)
{
    if (count < 0)
        return -1;
    const size_t End = static_cast<size_t>(Pos) + static_cast<size_t>(count);
    if (End > Bytes.size())
        Bytes.resize(End);
    if (count > 0)
        std::memcpy(Bytes.data() + Pos, buffer, static_cast<size_t>(count));
    Pos = static_cast<int64_t>(End);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int64_t Base = origin == TSeekOrigin::Beginning ? 0 : origin == TSeekOrigin::Current ? Pos : Size();
    if (Base + offset < 0)
        return -1;
    Pos = Base + offset;
    return Pos;
}

int32_t TFileStream::Read(void* buffer, int32_t count)
{
    int32_t Done = 0;
    while (Done < count) {
        const ssize_t N = ::read(Fd, static_cast<char*>(buffer) + Done, static_cast<size_t>(count - Done));
        if (N < 0)
            return -1;
        if (N == 0)
            break;
        Done += static_cast<int32_t>(N);
    }
    return Done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count)
{
    if (count < 0)
        return -1;
    return WriteAll(Fd, buffer, static_cast<size_t>(count)) ? count : -1;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int Whence = origin == TSeekOrigin::Beginning ? SEEK_SET : origin == TSeekOrigin::Current ? SEEK_CUR : SEEK_END;
    return ::lseek(Fd, offset, Whence);
}

int64_t TFileStream::Size()
{
    struct stat St;
    if (::fstat(Fd, &St) != 0)
        return -1;
    return St.st_size;
}
