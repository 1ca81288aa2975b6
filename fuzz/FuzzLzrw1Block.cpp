// TLZR on arbitrary blocks, in the component's 32784-byte buffers. The bytes past the block
// length are poisoned: the decoder must refuse a block rather than read beyond it. A block
// that decodes is also coded again and must come back unchanged.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compress/LZRW1.h"

namespace {

constexpr size_t BufferBytes = IoBufferSize;
constexpr size_t MaxBlock = TLZR::BlockSize + 1;  // a stored full block

// Marks the bytes after a block as unreadable while it is decoded.
class TPoisonTail {
public:
    TPoisonTail(uint8_t* Buffer, size_t Length) : Tail(Buffer + Length), Bytes(BufferBytes - Length)
    {
        ASAN_POISON_MEMORY_REGION(Tail, Bytes);
    }
    ~TPoisonTail() { ASAN_UNPOISON_MEMORY_REGION(Tail, Bytes); }

private:
    uint8_t* Tail;
    size_t Bytes;
};

struct TBuffers {
    uint8_t Block[BufferBytes];
    uint8_t Decoded[BufferBytes];
    uint8_t Coded[BufferBytes];
    uint8_t Again[BufferBytes];
};

[[noreturn]] void Fail(const char* What, size_t A, size_t B)
{
    std::fprintf(stderr, "%s (%zu, %zu)\n", What, A, B);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size > MaxBlock)
        return 0;
    static TLZR Lzr;
    static TBuffers* B = new TBuffers;

    std::memcpy(B->Block, Data, Size);
    uint16_t Produced = 0;
    bool Decoded = true;
    try {
        TPoisonTail Guard(B->Block, Size);
        Produced = Lzr.DecompressBlock(B->Block, B->Decoded, static_cast<uint16_t>(Size));
    } catch (const ELzrw1Exception&) {
        Decoded = false;
    }
    if (Decoded && Produced > TLZR::BlockSize)
        Fail("block decoded past 32768 bytes", Size, Produced);

    // The raw input as the data of a block: compress, then decompress.
    const uint16_t Plain = static_cast<uint16_t>(Size < TLZR::BlockSize ? Size : TLZR::BlockSize);
    std::memcpy(B->Block, Data, Plain);
    const uint16_t Length = Lzr.CompressBlock(B->Block, B->Coded, Plain);
    if (Length > Plain + 1 || Length == 0)
        Fail("block length out of range", Plain, Length);
    uint16_t Back = 0;
    {
        TPoisonTail Guard(B->Coded, Length);
        try {
            Back = Lzr.DecompressBlock(B->Coded, B->Again, Length);
        } catch (const ELzrw1Exception& Error) {
            std::fprintf(stderr, "own block refused: %s\n", Error.what());
            std::abort();
        }
    }
    if (Back != Plain || std::memcmp(B->Again, Data, Plain) != 0)
        Fail("block did not come back", Plain, Back);
    return 0;
}
