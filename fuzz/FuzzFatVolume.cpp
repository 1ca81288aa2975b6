// The FAT reader on an arbitrary dump: it must finish, stay inside the bytes, and give every
// live file it reads exactly the size its entry states.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fat/FatVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    // Exactly the bytes given, so that a read past them is seen.
    const std::vector<uint8_t> Dump(Data, Data + Size);
    try {
        const TFatVolume Volume(Dump, Size % 2 == 0);
        for (const TFatEntry& Entry : Volume.Entries()) {
            (void)FatTimeText(Entry.Date, Entry.Time);
            if (Entry.Deleted || Entry.IsDirectory())
                continue;
            try {
                if (Volume.ReadFile(Entry).size() != Entry.Size) {
                    std::fprintf(stderr, "%s: read a size other than its entry's\n",
                                 Entry.Path.c_str());
                    std::abort();
                }
            } catch (const EFatError&) {
            }
        }
    } catch (const EFatError&) {
    }
    return 0;
}
