#include "cli/ImageInfo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "compress/LZRW1.h"
#include "core/FormatTable.h"

TImageInfo ReadImageInfo(const std::string& Path, std::vector<uint8_t>* Whole)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File(std::fopen(Path.c_str(), "rb"),
                                                        &std::fclose);
    if (!File)
        throw std::runtime_error("cannot open " + Path + ": " + std::strerror(errno));
    uint8_t Header[ImageHeaderSize];
    const size_t Got = std::fread(Header, 1, sizeof Header, File.get());
    if (Got < sizeof Header && std::ferror(File.get()))
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    const TImageHeader Image = ReadImageHeader(Header, Got, Path);

    TImageInfo Info;
    Info.Codec = Image.Codec == TImageCodec::Lzh ? "LZH" : "LZRW1/KH";
    if (!Image.OriginalSize)
        throw std::runtime_error(Path + " : the image header is cut short: no original size");
    // No image holds more than 2 GB: a negative size is a damaged field.
    Info.OriginalSize = *Image.OriginalSize;
    if (Info.OriginalSize < 0)
        throw std::runtime_error(Path + ": damaged header: an original size of " +
                                 std::to_string(uint32_t(Info.OriginalSize)) +
                                 " bytes is more than an image can hold");

    if (!Whole && std::fseek(File.get(), 0, SEEK_END) == 0) {
        Info.CompressedSize = ftello(File.get());
        return Info;
    }
    // A pipe, or an image to keep, is read to its end.
    if (Whole)
        Whole->assign(Header, Header + Got);
    Info.CompressedSize = int64_t(Got);
    uint8_t Rest[65536];
    while (const size_t More = std::fread(Rest, 1, sizeof Rest, File.get())) {
        Info.CompressedSize += int64_t(More);
        if (Whole)
            Whole->insert(Whole->end(), Rest, Rest + More);
    }
    if (std::ferror(File.get()))
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    return Info;
}

int64_t CutToMediumSize(const std::string& Path, int64_t Length, std::string& Why)
{
    const uint8_t Index = FormatIndexOfDumpSize(Length);
    if (Index == UnknownFormatIndex || FormatTable[Index].MediumBytes() >= Length)
        return Length;
    const int64_t Medium = FormatTable[Index].MediumBytes();
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode) || Info.st_size != Length)
        return Length;
    std::vector<uint8_t> Tail(size_t(Length - Medium));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File(std::fopen(Path.c_str(), "rb"),
                                                        &std::fclose);
    if (!File || std::fseek(File.get(), long(Medium), SEEK_SET) != 0 ||
        std::fread(Tail.data(), 1, Tail.size(), File.get()) != Tail.size())
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    File.reset();
    if (std::any_of(Tail.begin(), Tail.end(), [](uint8_t Byte) { return Byte != 0; })) {
        Why = Path + ": kept all " + std::to_string(Length) + " bytes: the " +
              std::to_string(Tail.size()) + " past the " + std::string(FormatTable[Index].FormatName) +
              " diskette's " + std::to_string(Medium) + " are not all zero";
        return Length;
    }
    if (::truncate(Path.c_str(), Medium) != 0)
        throw std::runtime_error("cannot shorten " + Path + ": " + std::strerror(errno));
    return Medium;
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
    const uint8_t Index = FormatIndexOfDumpSize(DumpSize, true);
    if (Index == UnknownFormatIndex)
        return "not a diskette size";
    return std::string(FormatTable[Index].FormatName);
}

void RunEngineInMemory(std::vector<uint8_t> Input, bool Compress, TStream& Output)
{
    TMemoryStream In(std::move(Input));
    Tlzrw1 Engine;
    Engine.Loaded(false);
    Engine.UseStream = true;
    Engine.InputStream = &In;
    Engine.OutputStream = &Output;
    Engine.CompressMode = TCompressMode::Good;
    if (Compress)
        Engine.Compress();
    else
        Engine.Decompress();
}

std::string DescribeImage(const TImageInfo& Info)
{
    return "codec: " + Info.Codec + "\n" +
           "original size: " + std::to_string(Info.OriginalSize) + " bytes\n" +
           "compressed size: " + std::to_string(Info.CompressedSize) + " bytes\n" +
           "ratio: " + RatioText(Info.CompressedSize, Info.OriginalSize) + "\n" +
           "diskette format: " + DiskFormatText(Info.OriginalSize) + "\n";
}
