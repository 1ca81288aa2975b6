// Compress then decompress through the component in stream mode, in both modes; the output
// must equal the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "compress/LZRW1.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::vector<uint8_t> Input(Data, Data + Size);
    RoundTrip(Input, TCompressMode::Good, "LZH");
    RoundTrip(Input, TCompressMode::Fast, "LZRW1/KH");
    return 0;
}
