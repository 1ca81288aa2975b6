// TLZH: the LZH codec (LZ77 over a 4096-byte window, adaptive Huffman code over 314 symbols,
// fixed prefix code for match positions). Its bit stream is fixed: stored images depend on it.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineErrors.h"
#include "Memory.h"

// The codec's input: one byte per request. A buffer window keeps the common request inline;
// Refill() is asked only when the window is empty.
class TLZHByteSource {
public:
    virtual ~TLZHByteSource() = default;
    // The next byte, or -1 at the end of the input (and on every request after it).
    int Get()
    {
        if (Next == Limit && !Refill())
            return -1;
        return *Next++;
    }
    // Takes up to Count bytes into To, with the refills Count calls of Get would make; fewer
    // only at the end of the input.
    size_t Read(uint8_t* To, size_t Count);
    // The bytes the window holds ahead, for a reader that looks at them before it takes them.
    size_t Ahead() const { return static_cast<size_t>(Limit - Next); }
    const uint8_t* Window() const { return Next; }
    // Takes Count of the bytes ahead (at most Ahead()).
    void Skip(size_t Count) { Next += Count; }

protected:
    // Makes [Next, Limit) non-empty, or returns false at the end of the input.
    virtual bool Refill() = 0;
    const uint8_t* Next = nullptr;
    const uint8_t* Limit = nullptr;
};

// The codec's output: one byte per request. Drain() is asked when the window is full and
// must leave room for at least one byte; Finish() is the final flush.
class TLZHByteSink {
public:
    virtual ~TLZHByteSink() = default;
    void Put(uint8_t Byte)
    {
        if (Next == Limit)
            Drain();
        *Next++ = Byte;
    }
    // Puts Count bytes, with the drains Count calls of Put would make.
    void Write(const uint8_t* From, size_t Count);

protected:
    virtual void Drain() = 0;
    uint8_t* Next = nullptr;
    uint8_t* Limit = nullptr;
};

// A source over bytes in memory.
class TMemoryByteSource : public TLZHByteSource {
public:
    TMemoryByteSource(const uint8_t* Bytes, size_t Count);

protected:
    bool Refill() override;

private:
    const uint8_t* Data;
    size_t Size;
    bool Given = false;
};

// A sink appending to a vector.
class TVectorByteSink : public TLZHByteSink {
public:
    TVectorByteSink();
    // The bytes put so far.
    std::vector<uint8_t> Bytes();

protected:
    void Drain() override;

private:
    std::vector<uint8_t> Done;
    uint8_t Window[4096];
};

class TLZH {
public:
    // Each operation takes its tables from Memory and gives them back before it returns; one
    // the source refuses stops it with ElzhException before it reads or writes a byte.
    explicit TLZH(TMemorySource& Memory = HeapMemory());
    ~TLZH();
    TLZH(const TLZH&) = delete;
    TLZH& operator=(const TLZH&) = delete;

    // Reads the source to its end and writes the bit stream; Count becomes the number of
    // input bytes consumed.
    void Encode(int32_t& Count, TLZHByteSource& Source, TLZHByteSink& Sink);
    // Produces Count bytes (none when Count <= 0); a last match is copied completely, so it may
    // run past Count. The format has no end marker: it stops early, short of Count, at the first
    // code that would need bits past the end of the input.
    void Decode(int32_t Count, TLZHByteSource& Source, TLZHByteSink& Sink);

    // When set, the encoder splits its search over two threads (the caller's and one more) on a
    // machine with a second core, for inputs of at least SplitFrom bytes; when clear, it works on
    // the caller's thread only. The stream is the same either way.
    bool SearchThread = true;
    // Below 64 KB the second thread gains little (at most two blocks to overlap) and a late
    // start of it costs more than the split saves.
    int32_t SplitFrom = 65536;
    // Positions per block the two threads hand over; small blocks are for tests.
    int32_t SplitBlock = 32768;

private:
    TMemorySource& Memory;
};

// Convenience for tests and tools: whole buffers in memory.
std::vector<uint8_t> LZHEncode(const std::vector<uint8_t>& Input);
std::vector<uint8_t> LZHDecode(const std::vector<uint8_t>& Stream, int32_t Count);
