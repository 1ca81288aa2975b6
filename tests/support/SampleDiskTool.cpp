// marrowtide-sample-disk SIZE FILE [filled|zero|random] [SEED]
// Writes a deterministic diskette dump, for demos and manual tests.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "tests/support/SampleDisk.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: marrowtide-sample-disk SIZE FILE [filled|zero|random] [SEED]\n"
                 "  SIZE: bytes, or 2.88MB, 1.44MB, 1.2MB, 720KB, 360KB\n");
    return 2;
}

bool ParseNumber(const char* Text, unsigned long long Max, unsigned long long& Value)
{
    if (*Text < '0' || *Text > '9')
        return false;
    char* End = nullptr;
    errno = 0;
    Value = std::strtoull(Text, &End, 10);
    return errno == 0 && *End == '\0' && Value <= Max;
}

bool ParseSize(const char* Text, size_t& Size)
{
    static const struct {
        const char* Name;
        size_t Bytes;
    } Formats[] = {{"2.88MB", 2949120}, {"1.44MB", 1474560}, {"1.2MB", 1231872},
                   {"720KB", 737280},   {"360KB", 377856}};
    for (const auto& Format : Formats)
        if (strcasecmp(Text, Format.Name) == 0) {
            Size = Format.Bytes;
            return true;
        }
    unsigned long long Value = 0;
    // Far beyond any diskette; keeps a typo from filling the disk.
    if (!ParseNumber(Text, 1ull << 30, Value))
        return false;
    Size = static_cast<size_t>(Value);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5)
        return Usage();
    size_t Size = 0;
    if (!ParseSize(argv[1], Size))
        return Usage();
    TSampleKind Kind = TSampleKind::Filled;
    if (argc > 3) {
        std::string Name = argv[3];
        if (Name == "filled")
            Kind = TSampleKind::Filled;
        else if (Name == "zero")
            Kind = TSampleKind::Zero;
        else if (Name == "random")
            Kind = TSampleKind::Random;
        else
            return Usage();
    }
    unsigned long long Seed = 1;
    if (argc > 4 && !ParseNumber(argv[4], 0xFFFFFFFFull, Seed))
        return Usage();

    std::vector<uint8_t> Disk = MakeSampleDisk(Size, Kind, static_cast<uint32_t>(Seed));
    std::FILE* File = std::fopen(argv[2], "wb");
    if (!File) {
        std::fprintf(stderr, "marrowtide-sample-disk: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    bool Ok = std::fwrite(Disk.data(), 1, Disk.size(), File) == Disk.size();
    Ok = std::fclose(File) == 0 && Ok;
    if (!Ok) {
        std::fprintf(stderr, "marrowtide-sample-disk: %s: write failed\n", argv[2]);
        return 1;
    }
    return 0;
}
