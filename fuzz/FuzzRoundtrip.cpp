// Compress then decompress through the component in stream mode, in both modes; the output
// must equal the input. The LZH encoder's search split over two threads (from the first byte,
// in blocks as small as they go) must give the one-thread stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "compress/LZRW1.h"
#include "compress/lzh.h"

namespace {

void RoundTrip(const std::vector<uint8_t>& Input, TCompressMode Mode, const char* Name)
{
    Tlzrw1 Component;
    Component.UseStream = true;
    Component.CompressMode = Mode;
    TMemoryStream Plain(Input), Image, Back;
    try {
        Component.InputStream = &Plain;
        Component.OutputStream = &Image;
        const int32_t Written = Component.Compress();
        if (Written != int32_t(Image.Bytes.size())) {
            std::fprintf(stderr, "%s: Compress reported %d bytes, wrote %zu\n", Name, Written,
                         Image.Bytes.size());
            std::abort();
        }
        Image.Pos = 0;
        Component.InputStream = &Image;
        Component.OutputStream = &Back;
        Component.Decompress();
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "%s: %s\n", Name, Error.what());
        std::abort();
    }
    if (Back.Bytes != Input) {
        std::fprintf(stderr, "%s: %zu bytes came back as %zu different bytes\n", Name,
                     Input.size(), Back.Bytes.size());
        std::abort();
    }
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& Input, bool Split, int32_t Block)
{
    TLZH Codec;
    Codec.SearchThread = Split;
    Codec.SplitFrom = 0;
    Codec.SplitBlock = Block;
    TMemoryByteSource Source(Input.data(), Input.size());
    TVectorByteSink Sink;
    int32_t Count = 0;
    Codec.Encode(Count, Source, Sink);
    return Sink.Bytes();
}

void SplitSearch(const std::vector<uint8_t>& Input)
{
    const std::vector<uint8_t> Alone = Encode(Input, false, 0);
    // The block size from the first byte: 60 (the least) up to a few thousand.
    const int32_t Block = 60 + (Input.empty() ? 0 : Input[0] * 17);
    if (Encode(Input, true, Block) != Alone) {
        std::fprintf(stderr, "LZH: %zu bytes, blocks of %d: the split search gave another stream\n",
                     Input.size(), Block);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::vector<uint8_t> Input(Data, Data + Size);
    RoundTrip(Input, TCompressMode::Good, "LZH");
    SplitSearch(Input);
    RoundTrip(Input, TCompressMode::Fast, "LZRW1/KH");
    return 0;
}
