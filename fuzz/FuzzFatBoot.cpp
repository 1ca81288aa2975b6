// The FAT boot sector reader behind the volume size query, on an arbitrary first sector. A
// size it reports must be whole clusters that fit on the medium the sector describes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/FatBoot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    // Exactly the bytes given, so that a read past them is seen.
    const std::vector<uint8_t> Sector(Data, Data + Size);
    const int64_t Volume = FatVolumeSize(Sector.data(), Sector.size());
    if (Volume == -1)
        return 0;
    TBootParameters P{};
    if (!ParseBootSector(Sector.data(), Sector.size(), P)) {
        std::fprintf(stderr, "a size of %lld for a sector that does not parse\n",
                     static_cast<long long>(Volume));
        std::abort();
    }
    const int64_t Cluster = int64_t(P.SectorsPerCluster) * P.BytesPerSector;
    if (Volume <= 0 || Volume % Cluster != 0 || Volume > P.MediumBytes()) {
        std::fprintf(stderr, "volume size %lld for a medium of %lld bytes, clusters of %lld\n",
                     static_cast<long long>(Volume), static_cast<long long>(P.MediumBytes()),
                     static_cast<long long>(Cluster));
        std::abort();
    }
    return 0;
}
