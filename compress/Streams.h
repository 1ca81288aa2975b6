// Byte streams for the compressor's stream mode. The caller owns them; the compressor
// reads, writes, seeks and sizes them and never closes or frees them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TSeekOrigin { Beginning = 0, Current = 1, End = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    // Bytes transferred, or a negative count on failure.
    virtual int32_t Read(void* Buffer, int32_t Count) = 0;
    virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
    // The new position, or a negative value on failure.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
    // The size in bytes, or a negative value when it cannot be found.
    virtual int64_t Size() = 0;
    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> Initial) : Bytes(std::move(Initial)) {}

    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }

    std::vector<uint8_t> Bytes;
    int64_t Pos = 0;
};

// A stream over an open file descriptor. Does not own the descriptor.
class TFileStream : public TStream {
public:
    explicit TFileStream(int Handle) : Fd(Handle) {}

    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override;

private:
    int Fd;
};
