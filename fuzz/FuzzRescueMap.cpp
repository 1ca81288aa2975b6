// The rescue map parser on arbitrary text, as a resume reads a map it is given: it either
// refuses with EMapError or gives a map that covers the dump and reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/RescueMap.h"

namespace {

[[noreturn]] void Fail(const char* What)
{
    std::fprintf(stderr, "%s\n", What);
    std::abort();
}

void Check(const std::string& Text, int64_t Expected)
{
    TRescueMap Map;
    try {
        Map = TRescueMap::Parse(Text, Expected);
    } catch (const EMapError&) {
        return;
    }
    if (Map.Bytes() <= 0 || (Expected >= 0 && Map.Bytes() != Expected))
        Fail("a parsed map does not cover the dump");
    const TRescueMap Again = TRescueMap::Parse(Map.Text("fuzz", '+'), Map.Bytes());
    if (Again.Blocks().size() != Map.Blocks().size() || Again.Missing() != Map.Missing())
        Fail("a map written again reads differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    Check(Text, -1);
    Check(Text, 1474560);
    return 0;
}
