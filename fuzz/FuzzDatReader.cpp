// The DAT reader on arbitrary bytes. A DAT it reads must read the same when fed in two pieces,
// and what the catalog writer makes of it must read back as the same DAT.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "cli/DatFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string_view Xml(reinterpret_cast<const char*>(Data), Size);
    TDat Dat;
    try {
        Dat = ParseDat(Xml, "fuzz.dat");
    } catch (const EDatError&) {
        return 0;
    }
    TDatReader Halves("halves.dat");
    Halves.Feed(Xml.substr(0, Size / 2), false);
    Halves.Feed(Xml.substr(Size / 2), true);
    if (!(Halves.Take() == Dat)) {
        std::fprintf(stderr, "the DAT reads differently in two pieces\n");
        std::abort();
    }
    const std::string Written = DatText(Dat);
    try {
        if (!(ParseDat(Written, "written.dat") == Dat)) {
            std::fprintf(stderr, "the written DAT reads back differently:\n%s\n", Written.c_str());
            std::abort();
        }
    } catch (const EDatError& E) {
        std::fprintf(stderr, "the written DAT does not read: %s\n%s\n", E.what(), Written.c_str());
        std::abort();
    }
    return 0;
}
