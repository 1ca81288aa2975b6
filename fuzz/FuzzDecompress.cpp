// Decompress of arbitrary bytes through the component in stream mode. Refusals are
// exceptions; a run that ends without one must have produced exactly the announced size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "compress/LZRW1.h"
#include "core/ByteOrder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const bool HasSize = Size >= 8;
    const int64_t Announced = HasSize ? int32_t(GetLE32(Data + 4)) : 0;
    TMemoryStream In(std::vector<uint8_t>(Data, Data + Size));
    TMemoryStream Out;
    Tlzrw1 Component;
    Component.UseStream = true;
    Component.InputStream = &In;
    Component.OutputStream = &Out;
    int32_t Produced = 0;
    try {
        Produced = Component.Decompress();
    } catch (const std::exception&) {
        return 0;
    }
    if (!HasSize || Produced != Announced || int64_t(Out.Bytes.size()) != Announced) {
        std::fprintf(stderr, "accepted an image of %lld bytes as %d bytes (%zu written)\n",
                     static_cast<long long>(Announced), Produced, Out.Bytes.size());
        std::abort();
    }
    return 0;
}
