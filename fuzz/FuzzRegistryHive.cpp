// The settings hive parser on arbitrary file contents. Refusals are ERegistryException; a hive
// that reads must be written back as a text that reads again to the same keys, values and kept
// lines and is written the same, or a change would store settings that the next start refuses
// or reads differently (a kept line taking in the value written after it, say).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/HiveText.h"
#include "platform/Registry.h"

namespace {

void Check(const std::string& Text, const std::string& Root)
{
    THive Hive;
    try {
        Hive = ParseHiveText(Text, Root, "fuzz.reg");
    } catch (const ERegistryException&) {
        return;
    }
    const std::string Written = HiveText(Hive, Root);
    THive Again;
    try {
        Again = ParseHiveText(Written, Root, "rewritten.reg");
    } catch (const ERegistryException& Error) {
        std::fprintf(stderr, "a hive as written is refused: %s\n%s\n", Error.what(), Written.c_str());
        std::abort();
    }
    if (!(Again == Hive)) {
        std::fprintf(stderr, "a hive reads differently once written:\n%s\n", Written.c_str());
        std::abort();
    }
    // A value added at the end of the last key stays a value of its own.
    const THiveLine Added{THiveLineKind::Dword, "fuzz-added", "", 1};
    if (!Again.Keys.empty() && std::none_of(Again.Keys.back().Lines.begin(), Again.Keys.back().Lines.end(),
                                            [&](const THiveLine& Line) { return SameName(Line.Name, Added.Name); })) {
        Again.Keys.back().Lines.push_back(Added);
        if (!(ParseHiveText(HiveText(Again, Root), Root, "added.reg") == Again)) {
            std::fprintf(stderr, "an added value is lost:\n%s\n", HiveText(Again, Root).c_str());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    Check(Text, "HKEY_CURRENT_USER");
    Check(Text, "HKEY_CLASSES_ROOT");
    return 0;
}
