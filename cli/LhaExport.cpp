#include "cli/LhaExport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "cli/FileCommands.h"
#include "cli/ImageInfo.h"
#include "compress/SafeOutput.h"
#include "core/ByteOrder.h"
#include "core/ImageHeader.h"
#include "platform/Files.h"

namespace {

constexpr uint8_t CommonHeader = 0x00;
constexpr uint8_t FileNameHeader = 0x01;

void Put16(std::vector<uint8_t>& Out, uint32_t Value)
{
    Out.resize(Out.size() + 2);
    PutLE16(Out.data() + Out.size() - 2, Value);
}

void Put32(std::vector<uint8_t>& Out, uint32_t Value)
{
    Out.resize(Out.size() + 4);
    PutLE32(Out.data() + Out.size() - 4, Value);
}

// Runs the engine over bytes in memory.
std::vector<uint8_t> RunEngine(std::vector<uint8_t> Input, bool Compress)
{
    TMemoryStream Out;
    RunEngineInMemory(std::move(Input), Compress, Out);
    return std::move(Out.Bytes);
}

void Write(int Handle, const uint8_t* Bytes, size_t Count, const std::string& Path)
{
    if (!WriteAll(Handle, Bytes, Count))
        throw std::runtime_error("cannot write " + Path + ": " + std::strerror(errno));
}

}  // namespace

uint16_t LhaCrc16(const uint8_t* Bytes, size_t Count, uint16_t Crc)
{
    static const std::array<uint16_t, 256> Table = [] {
        std::array<uint16_t, 256> T {};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t R = i;
            for (int Bit = 0; Bit < 8; ++Bit)
                R = (R & 1) ? (R >> 1) ^ 0xA001 : R >> 1;
            T[i] = uint16_t(R);
        }
        return T;
    }();
    for (size_t i = 0; i < Count; ++i)
        Crc = uint16_t(Table[(Crc ^ Bytes[i]) & 0xFF] ^ (Crc >> 8));
    return Crc;
}

std::vector<uint8_t> LhaHeader(const TLhaMember& Member)
{
    std::vector<uint8_t> H;
    Put16(H, 0);  // the header's size, set below
    for (const char C : std::string("-lh1-"))
        H.push_back(uint8_t(C));
    Put32(H, Member.CompressedSize);
    Put32(H, Member.OriginalSize);
    Put32(H, Member.Time);
    H.push_back(0x20);  // reserved
    H.push_back(2);     // header level
    Put16(H, Member.Crc);
    H.push_back('U');
    // Extended headers, each led by its size: the common one (the header's CRC), the name.
    Put16(H, 5);
    H.push_back(CommonHeader);
    const size_t HeaderCrcAt = H.size();
    Put16(H, 0);
    Put16(H, uint32_t(3 + Member.Name.size()));
    H.push_back(FileNameHeader);
    H.insert(H.end(), Member.Name.begin(), Member.Name.end());
    Put16(H, 0);
    // A size whose low byte is 0 would read as the archive's end: one byte of padding.
    if ((H.size() & 0xFF) == 0)
        H.push_back(0);
    if (H.size() > 0xFFFF)
        throw std::runtime_error("the file name is too long for an LHA header: " + Member.Name);
    PutLE16(H.data(), uint32_t(H.size()));
    PutLE16(H.data() + HeaderCrcAt, LhaCrc16(H.data(), H.size()));
    return H;
}

TExportResult ExportImage(const std::string& Path, const std::string& Image,
                          const std::string& Archive, bool Replace)
{
    const TLoadedDump Loaded = LoadDump(Path);
    const std::vector<uint8_t>& Dump = Loaded.Bytes;
    std::vector<uint8_t> Packed;
    if (Loaded.Codec == "LZH")
        ReadImageInfo(Path, &Packed);
    else
        Packed = RunEngine(Dump, true);

    TLhaMember Member;
    Member.Name = std::filesystem::path(Image).stem().string() + ".img";
    Member.CompressedSize = uint32_t(Packed.size() - ImageHeaderSize);
    Member.OriginalSize = uint32_t(Dump.size());
    Member.Crc = LhaCrc16(Dump.data(), Dump.size());
    struct stat Info {};
    if (::stat(Image.c_str(), &Info) == 0)
        Member.Time = uint32_t(Info.st_mtime);
    const std::vector<uint8_t> Head = LhaHeader(Member);

    TSafeOutput Output;
    if (!Output.Open(Archive, Replace))
        throw std::runtime_error("cannot create " + Archive + ": " + std::strerror(errno));
    Write(Output.Handle(), Head.data(), Head.size(), Archive);
    Write(Output.Handle(), Packed.data() + ImageHeaderSize, Member.CompressedSize, Archive);
    const uint8_t End = 0;  // a level-2 archive ends with a zero byte
    Write(Output.Handle(), &End, 1, Archive);
    if (!Output.Commit()) {
        if (errno == EEXIST)
            throw std::runtime_error(Archive + ": already exists" +
                                     (Output.KeptAs().empty()
                                          ? std::string()
                                          : "; the archive is kept as " + Output.KeptAs()));
        throw std::runtime_error("cannot write " + Archive + ": " + std::strerror(errno));
    }
    return {Member.Name, int64_t(Dump.size()),
            int64_t(Head.size() + Member.CompressedSize + 1)};
}
