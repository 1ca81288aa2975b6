#include "cli/ImageInfo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "compress/LZRW1.h"
#include "platform/FormatTable.h"

namespace {

uint32_t LittleEndian32(const unsigned char* Bytes)
{
    return uint32_t(Bytes[0]) | uint32_t(Bytes[1]) << 8 | uint32_t(Bytes[2]) << 16 |
           uint32_t(Bytes[3]) << 24;
}

}  // namespace

TImageInfo ReadImageInfo(const std::string& Path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File(std::fopen(Path.c_str(), "rb"),
                                                        &std::fclose);
    if (!File)
        throw std::runtime_error("cannot open " + Path + ": " + std::strerror(errno));
    unsigned char Header[8];
    const size_t Got = std::fread(Header, 1, sizeof Header, File.get());
    if (Got < sizeof Header && std::ferror(File.get()))
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    const uint32_t Tag = Got >= 4 ? LittleEndian32(Header) : 0;

    TImageInfo Info;
    if (Tag == LzhTag)
        Info.Codec = "LZH";
    else if (Tag == Lzrw1KhTag)
        Info.Codec = "LZRW1/KH";
    else
        throw std::runtime_error(Path + " : Lzrw1 decompression : this file has no valid header !");
    if (Got < sizeof Header)
        throw std::runtime_error(Path + " : the image header is cut short: no original size");
    // The size field is signed: no image holds more than 2 GB.
    const uint32_t Size = LittleEndian32(Header + 4);
    if (Size > uint32_t(INT32_MAX))
        throw std::runtime_error(Path + ": damaged header: an original size of " +
                                 std::to_string(Size) + " bytes is more than an image can hold");
    Info.OriginalSize = static_cast<int32_t>(Size);

    if (std::fseek(File.get(), 0, SEEK_END) == 0) {
        Info.CompressedSize = ftello(File.get());
        return Info;
    }
    // A pipe is counted to its end.
    Info.CompressedSize = int64_t(Got);
    char Rest[65536];
    while (const size_t More = std::fread(Rest, 1, sizeof Rest, File.get()))
        Info.CompressedSize += int64_t(More);
    if (std::ferror(File.get()))
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    return Info;
}

std::string RatioText(int64_t Part, int64_t Whole)
{
    if (Whole <= 0)
        return "-";
    // Tenths of a percent, rounded to nearest.
    const int64_t Tenths = (Part * 1000 + Whole / 2) / Whole;
    return std::to_string(Tenths / 10) + "." + std::to_string(Tenths % 10) + "%";
}

std::string DiskFormatText(int64_t DumpSize)
{
    const uint8_t Index = FormatIndexOfDumpSize(DumpSize);
    if (Index == UnknownFormatIndex)
        return "not a diskette size";
    return std::string(FormatTable[Index].FormatName);
}

std::string DescribeImage(const TImageInfo& Info)
{
    return "codec: " + Info.Codec + "\n" +
           "original size: " + std::to_string(Info.OriginalSize) + " bytes\n" +
           "compressed size: " + std::to_string(Info.CompressedSize) + " bytes\n" +
           "ratio: " + RatioText(Info.CompressedSize, Info.OriginalSize) + "\n" +
           "diskette format: " + DiskFormatText(Info.OriginalSize) + "\n";
}
