// The settings hive parser on arbitrary file contents. Refusals are ERegistryException; a hive
// that reads must be written back as a text that reads again to the same text, or a change
// would store settings that the next start refuses or reads differently.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Registry.h"

namespace {

void Check(const std::string& Text, TRootKey Root)
{
    std::string Written;
    try {
        Written = RewrittenHiveText(Text, Root, "fuzz.reg");
    } catch (const ERegistryException&) {
        return;
    }
    std::string Again;
    try {
        Again = RewrittenHiveText(Written, Root, "rewritten.reg");
    } catch (const ERegistryException& Error) {
        std::fprintf(stderr, "a hive as written is refused: %s\n%s\n", Error.what(), Written.c_str());
        std::abort();
    }
    if (Again != Written) {
        std::fprintf(stderr, "a hive changes when written twice:\n%s\n--\n%s\n", Written.c_str(),
                     Again.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    Check(Text, TRootKey::CurrentUser);
    Check(Text, TRootKey::ClassesRoot);
    return 0;
}
