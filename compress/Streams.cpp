#include "Streams.h"

#include "platform/Files.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

int32_t TMemoryStream::Read(void* Buffer, int32_t Count)
{
    if (Count < 0)
        return -1;
    const int64_t Left = Size() - Pos;
    const int32_t N = Left <= 0 ? 0 : static_cast<int32_t>(Left < Count ? Left : Count);
    if (N > 0)
        std::memcpy(Buffer, Bytes.data() + Pos, static_cast<size_t>(N));
    Pos += N;
    return N;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count)
{
    if (Count < 0)
        return -1;
    const size_t End = static_cast<size_t>(Pos) + static_cast<size_t>(Count);
    if (End > Bytes.size())
        Bytes.resize(End);
    if (Count > 0)
        std::memcpy(Bytes.data() + Pos, Buffer, static_cast<size_t>(Count));
    Pos = static_cast<int64_t>(End);
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int64_t Base = Origin == TSeekOrigin::Beginning ? 0 : Origin == TSeekOrigin::Current ? Pos : Size();
    if (Base + Offset < 0)
        return -1;
    Pos = Base + Offset;
    return Pos;
}

int32_t TFileStream::Read(void* Buffer, int32_t Count)
{
    int32_t Done = 0;
    while (Done < Count) {
        const ssize_t N = ::read(Fd, static_cast<char*>(Buffer) + Done, static_cast<size_t>(Count - Done));
        if (N < 0)
            return -1;
        if (N == 0)
            break;
        Done += static_cast<int32_t>(N);
    }
    return Done;
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count)
{
    if (Count < 0)
        return -1;
    return WriteAll(Fd, Buffer, static_cast<size_t>(Count)) ? Count : -1;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int Whence = Origin == TSeekOrigin::Beginning ? SEEK_SET : Origin == TSeekOrigin::Current ? SEEK_CUR : SEEK_END;
    return ::lseek(Fd, Offset, Whence);
}

int64_t TFileStream::Size()
{
    struct stat St;
    if (::fstat(Fd, &St) != 0)
        return -1;
    return St.st_size;
}
