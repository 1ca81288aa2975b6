#include "shell/AviClip.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "core/ByteOrder.h"

EInvalidAvi::EInvalidAvi(std::string Detail)
    : std::runtime_error("Cannot open AVI"), FDetail(std::move(Detail))
{
}

namespace {

using TBytes = std::span<const uint8_t>;

constexpr uint32_t BiRle8 = 1;
constexpr int DefaultPeriodMs = 67;
constexpr int MinPeriodMs = 10;
constexpr int MaxPeriodMs = 5000;

// A little-endian field, checked against the end of the bytes it lies in.
uint32_t U32(TBytes Bytes, size_t At)
{
    if (At > Bytes.size() || Bytes.size() - At < 4)
        throw EInvalidAvi("a field lies past the end of its chunk");
    return GetLE32(Bytes.data() + At);
}

constexpr uint32_t FourCC(const char (&Text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(Text[0]))
        | static_cast<uint32_t>(static_cast<uint8_t>(Text[1])) << 8
        | static_cast<uint32_t>(static_cast<uint8_t>(Text[2])) << 16
        | static_cast<uint32_t>(static_cast<uint8_t>(Text[3])) << 24;
}

struct TChunk {
    uint32_t Id;
    TBytes Data;
};

// Calls Visit for each chunk of a list's body. A chunk that claims more than the list holds is
// an error; the pad byte after an odd-sized chunk may be missing at the list's end.
template <class TVisit>
void ForEachChunk(TBytes Body, TVisit&& Visit)
{
    size_t At = 0;
    while (At < Body.size()) {
        if (Body.size() - At < 8)
            throw EInvalidAvi("a chunk header is cut off");
        const uint32_t Size = U32(Body, At + 4);
        if (Size > Body.size() - At - 8)
            throw EInvalidAvi("a chunk runs past the end of its list (truncated file?)");
        Visit(TChunk{U32(Body, At), Body.subspan(At + 8, Size)});
        At += 8 + size_t{Size} + Size % 2;
    }
}

// The body of a LIST chunk of the given type; none for any other chunk.
std::optional<TBytes> ListBody(const TChunk& Chunk, uint32_t Type)
{
    if (Chunk.Id != FourCC("LIST") || Chunk.Data.size() < 4 || U32(Chunk.Data, 0) != Type)
        return std::nullopt;
    return Chunk.Data.subspan(4);
}

struct TFormat {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Palette;  // 0x00RRGGBB
};

// The stream format: a bitmap header and the palette after it.
TFormat ReadFormat(TBytes Info)
{
    const uint32_t HeaderSize = U32(Info, 0);
    if (HeaderSize < 40 || HeaderSize > Info.size())
        throw EInvalidAvi("the bitmap header has a bad size");
    const int64_t Width = static_cast<int32_t>(U32(Info, 4));
    const int64_t Height = static_cast<int32_t>(U32(Info, 8));
    const unsigned BitCount = Info[14] | Info[15] << 8;
    const uint32_t Compression = U32(Info, 16);
    const uint32_t ColoursUsed = U32(Info, 32);
    if (Width < 1 || Width > MaxAviFrameSide || Height == 0 || Height < -MaxAviFrameSide
        || Height > MaxAviFrameSide)
        throw EInvalidAvi("the frame size is out of bounds");
    if (Compression != BiRle8 || BitCount != 8)
        throw EInvalidAvi("the video codec is not RLE8");
    // Compressed bitmaps are always stored bottom row first.
    if (Height < 0)
        throw EInvalidAvi("an RLE8 frame cannot be top-down");

    TFormat Format{static_cast<int32_t>(Width), static_cast<int32_t>(Height), {}};
    const uint32_t Colours = ColoursUsed == 0 ? 256 : ColoursUsed;
    if (Colours > 256)
        throw EInvalidAvi("the palette has more than 256 colours");
    if ((Info.size() - HeaderSize) / 4 < Colours)
        throw EInvalidAvi("the palette is cut off");
    for (uint32_t I = 0; I < Colours; ++I)
        Format.Palette.push_back(U32(Info, HeaderSize + 4 * I) & 0x00FFFFFF);
    return Format;
}

struct THeaders {
    std::optional<uint32_t> MicroSecPerFrame;
    std::optional<TFormat> Format;  // the first stream's
};

THeaders ReadHeaders(TBytes List)
{
    THeaders Headers;
    ForEachChunk(List, [&](const TChunk& Chunk) {
        if (Chunk.Id == FourCC("avih")) {
            if (Chunk.Data.size() < 56)
                throw EInvalidAvi("the main header is too short");
            Headers.MicroSecPerFrame = U32(Chunk.Data, 0);
        } else if (const auto Stream = ListBody(Chunk, FourCC("strl")); Stream && !Headers.Format) {
            ForEachChunk(*Stream, [&](const TChunk& Part) {
                if (Part.Id == FourCC("strf") && !Headers.Format)
                    Headers.Format = ReadFormat(Part.Data);
            });
            if (!Headers.Format)
                throw EInvalidAvi("the video stream has no format");
        }
    });
    return Headers;
}

// Decodes one frame's RLE8 codes over the previous frame's palette indices (top row first), so
// codes may change only some pixels. Rows count from the bottom. Any code that would write
// outside the frame, or move the position beyond it, makes the whole file invalid.
void DecodeRle8(TBytes Data, const TFormat& Format, std::vector<uint8_t>& Pixels)
{
    const int64_t Width = Format.Width;
    const int64_t Height = Format.Height;
    int64_t X = 0;
    int64_t Y = 0;
    // Where a run of Count pixels at the position goes; the position moves past it.
    auto Run = [&](int64_t Count) {
        if (Y >= Height || X + Count > Width)
            throw EInvalidAvi("an RLE8 run writes outside the frame");
        const auto Out = Pixels.begin() + (Height - 1 - Y) * Width + X;
        X += Count;
        return Out;
    };
    size_t At = 0;
    while (At < Data.size()) {
        if (Data.size() - At < 2)
            throw EInvalidAvi("RLE8 data ends inside a code");
        const uint8_t Count = Data[At];
        const uint8_t Value = Data[At + 1];
        At += 2;
        if (Count > 0) {
            std::fill_n(Run(Count), Count, Value);
        } else if (Value == 0) {  // end of line
            X = 0;
            if (++Y > Height)
                throw EInvalidAvi("an RLE8 line end moves outside the frame");
        } else if (Value == 1) {  // end of frame
            return;
        } else if (Value == 2) {  // move right and up
            if (Data.size() - At < 2)
                throw EInvalidAvi("RLE8 data ends inside a code");
            X += Data[At];
            Y += Data[At + 1];
            At += 2;
            if (X > Width || Y > Height)
                throw EInvalidAvi("an RLE8 delta moves outside the frame");
        } else {  // Value literal pixels, padded to an even count
            if (Data.size() - At < Value)
                throw EInvalidAvi("RLE8 data ends inside a literal run");
            std::copy_n(Data.begin() + static_cast<std::ptrdiff_t>(At), Value, Run(Value));
            At = std::min(Data.size(), At + Value + Value % 2);
        }
    }
}

// The frame as the player shows it, from its palette indices.
std::vector<uint32_t> Compose(const std::vector<uint8_t>& Pixels,
                              const std::vector<uint32_t>& Palette)
{
    std::vector<uint32_t> Frame(Pixels.size());
    for (size_t I = 0; I < Pixels.size(); ++I) {
        if (Pixels[I] >= Palette.size())
            throw EInvalidAvi("a pixel uses a colour outside the palette");
        Frame[I] = Palette[Pixels[I]] | (Pixels[I] == 0 ? 0u : 0xFF000000u);
    }
    return Frame;
}

}  // namespace

TAviClip ReadAvi(TBytes File)
{
    if (File.size() < 12 || U32(File, 0) != FourCC("RIFF") || U32(File, 8) != FourCC("AVI "))
        throw EInvalidAvi("not a RIFF AVI file");
    const uint32_t RiffSize = U32(File, 4);
    if (RiffSize < 4)
        throw EInvalidAvi("the RIFF chunk is empty");
    if (RiffSize > File.size() - 8)
        throw EInvalidAvi("the file is truncated");

    THeaders Headers;
    std::optional<TBytes> Movie;
    ForEachChunk(File.subspan(12, RiffSize - 4), [&](const TChunk& Chunk) {
        if (const auto List = ListBody(Chunk, FourCC("hdrl")))
            Headers = ReadHeaders(*List);
        else if (!Movie)
            Movie = ListBody(Chunk, FourCC("movi"));
    });
    if (!Headers.MicroSecPerFrame)
        throw EInvalidAvi("the main header is missing");
    if (!Headers.Format)
        throw EInvalidAvi("there is no video stream");
    if (!Movie)
        throw EInvalidAvi("the movie list is missing");

    const TFormat& Format = *Headers.Format;
    TAviClip Clip;
    Clip.Width = Format.Width;
    Clip.Height = Format.Height;
    const int64_t Ms = (int64_t{*Headers.MicroSecPerFrame} + 500) / 1000;
    Clip.FramePeriodMs = *Headers.MicroSecPerFrame == 0
        ? DefaultPeriodMs
        : static_cast<int>(std::clamp<int64_t>(Ms, MinPeriodMs, MaxPeriodMs));

    const int64_t FramePixels = int64_t{Format.Width} * Format.Height;
    std::vector<uint8_t> Pixels(static_cast<size_t>(FramePixels), 0);
    ForEachChunk(*Movie, [&](const TChunk& Chunk) {
        if (Chunk.Id != FourCC("00dc"))
            return;
        if (static_cast<int64_t>(Clip.Frames.size() + 1) * FramePixels > MaxAviTotalPixels)
            throw EInvalidAvi("the clip has too many frames");
        // An empty chunk is a dropped frame: the previous picture stays.
        DecodeRle8(Chunk.Data, Format, Pixels);
        Clip.Frames.push_back(Compose(Pixels, Format.Palette));
    });
    if (Clip.Frames.empty())
        throw EInvalidAvi("the clip has no frames");
    return Clip;
}

TAviClip ReadAviFile(const std::string& Path)
{
    std::error_code Error;
    if (!std::filesystem::is_regular_file(Path, Error))
        throw EInvalidAvi("no such file: " + Path);
    std::ifstream In(Path, std::ios::binary);
    In.seekg(0, std::ios::end);
    const std::streamoff Length = In ? static_cast<std::streamoff>(In.tellg()) : -1;
    if (Length < 0)
        throw EInvalidAvi("cannot read " + Path);
    if (Length > MaxAviFileSize)
        throw EInvalidAvi("the file is too large: " + Path);
    std::vector<uint8_t> Data(static_cast<size_t>(Length));
    In.seekg(0);
    In.read(reinterpret_cast<char*>(Data.data()), Length);
    if (In.gcount() != Length)
        throw EInvalidAvi("cannot read " + Path);
    return ReadAvi(Data);
}
