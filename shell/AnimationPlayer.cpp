#include "shell/AnimationPlayer.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

EInvalidAvi::EInvalidAvi(std::string Detail)
    : std::runtime_error("Cannot open AVI"), FDetail(std::move(Detail))
{
}

namespace {

constexpr uint32_t BiRgb = 0;
constexpr uint32_t BiRle8 = 1;
constexpr int DefaultIntervalMs = 67;
constexpr int MinIntervalMs = 10;
constexpr int MaxIntervalMs = 5000;
// Lists inside 'movi' ('rec ' groups) nest no deeper than this in any real file.
constexpr int MaxListDepth = 4;

constexpr uint32_t FourCC(const char (&Text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(Text[0]))
        | static_cast<uint32_t>(static_cast<uint8_t>(Text[1])) << 8
        | static_cast<uint32_t>(static_cast<uint8_t>(Text[2])) << 16
        | static_cast<uint32_t>(static_cast<uint8_t>(Text[3])) << 24;
}

// The file's bytes; every read is checked against its end.
struct TBytes {
    const uint8_t* Data;
    size_t Size;

    uint32_t U32(size_t At) const
    {
        if (At > Size || Size - At < 4)
            throw EInvalidAvi("a field lies past the end of its chunk");
        return static_cast<uint32_t>(Data[At]) | static_cast<uint32_t>(Data[At + 1]) << 8
            | static_cast<uint32_t>(Data[At + 2]) << 16 | static_cast<uint32_t>(Data[At + 3]) << 24;
    }
    uint16_t U16(size_t At) const
    {
        if (At > Size || Size - At < 2)
            throw EInvalidAvi("a field lies past the end of its chunk");
        return static_cast<uint16_t>(Data[At] | Data[At + 1] << 8);
    }
};

struct TChunk {
    uint32_t Id;
    size_t Begin;  // first data byte
    size_t Size;
};

// Calls Visit for each chunk in [Begin, End). A chunk that claims more than its list holds is an
// error; the pad byte after an odd-sized chunk may be missing at the list's end.
template <class TVisit>
void ForEachChunk(const TBytes& File, size_t Begin, size_t End, TVisit&& Visit)
{
    size_t At = Begin;
    while (At < End) {
        if (End - At < 8)
            throw EInvalidAvi("a chunk header is cut off");
        const uint32_t Id = File.U32(At);
        const uint32_t Size = File.U32(At + 4);
        const size_t DataAt = At + 8;
        if (Size > End - DataAt)
            throw EInvalidAvi("a chunk runs past the end of its list (truncated file?)");
        Visit(TChunk{Id, DataAt, Size});
        At = DataAt + Size;
        if (Size % 2 != 0 && At < End)
            ++At;
    }
}

bool IsList(const TBytes& File, const TChunk& Chunk, uint32_t Type)
{
    return Chunk.Id == FourCC("LIST") && Chunk.Size >= 4 && File.U32(Chunk.Begin) == Type;
}

struct TVideoFormat {
    int32_t Width = 0;
    int32_t Height = 0;
    bool TopDown = false;
    uint16_t BitCount = 0;
    uint32_t Compression = 0;
    std::vector<uint32_t> Palette;  // 0x00RRGGBB
};

struct THeader {
    bool HaveMain = false;
    uint32_t MicroSecPerFrame = 0;
    int VideoStream = -1;
    uint32_t StreamScale = 0;
    uint32_t StreamRate = 0;
    std::optional<TVideoFormat> Format;
};

TVideoFormat ReadVideoFormat(const TBytes& File, const TChunk& Strf)
{
    const TBytes Info{File.Data + Strf.Begin, Strf.Size};
    const uint32_t HeaderSize = Info.U32(0);
    if (HeaderSize < 40 || HeaderSize > Info.Size)
        throw EInvalidAvi("the bitmap header has a bad size");
    TVideoFormat Format;
    const int64_t Width = static_cast<int32_t>(Info.U32(4));
    const int64_t Height = static_cast<int32_t>(Info.U32(8));
    Format.BitCount = Info.U16(14);
    Format.Compression = Info.U32(16);
    const uint32_t ColoursUsed = Info.U32(32);
    if (Width < 1 || Width > MaxAviFrameSide || Height == 0 || Height < -MaxAviFrameSide
        || Height > MaxAviFrameSide)
        throw EInvalidAvi("the frame size is out of bounds");
    Format.Width = static_cast<int32_t>(Width);
    Format.Height = static_cast<int32_t>(Height < 0 ? -Height : Height);
    Format.TopDown = Height < 0;

    const bool Supported = (Format.Compression == BiRgb && (Format.BitCount == 8 || Format.BitCount == 24))
        || (Format.Compression == BiRle8 && Format.BitCount == 8);
    if (!Supported)
        throw EInvalidAvi("the video codec is not uncompressed 8/24-bit or RLE8");
    // Compressed bitmaps are always stored bottom row first.
    if (Format.Compression == BiRle8 && Format.TopDown)
        throw EInvalidAvi("an RLE8 frame cannot be top-down");

    if (Format.BitCount == 8) {
        const uint32_t Colours = ColoursUsed == 0 ? 256 : ColoursUsed;
        if (Colours > 256)
            throw EInvalidAvi("the palette has more than 256 colours");
        if ((Info.Size - HeaderSize) / 4 < Colours)
            throw EInvalidAvi("the palette is cut off");
        for (uint32_t I = 0; I < Colours; ++I)
            Format.Palette.push_back(Info.U32(HeaderSize + 4 * I) & 0x00FFFFFF);
    }
    return Format;
}

void ReadStreamList(const TBytes& File, const TChunk& List, int StreamIndex, THeader& Header)
{
    bool IsVideo = false;
    ForEachChunk(File, List.Begin + 4, List.Begin + List.Size, [&](const TChunk& Chunk) {
        if (Chunk.Id == FourCC("strh")) {
            if (Chunk.Size < 48)
                throw EInvalidAvi("a stream header is too short");
            IsVideo = File.U32(Chunk.Begin) == FourCC("vids") && !Header.Format && StreamIndex < 100;
            if (IsVideo) {
                Header.VideoStream = StreamIndex;
                Header.StreamScale = File.U32(Chunk.Begin + 20);
                Header.StreamRate = File.U32(Chunk.Begin + 24);
            }
        } else if (Chunk.Id == FourCC("strf") && IsVideo && !Header.Format) {
            Header.Format = ReadVideoFormat(File, Chunk);
        }
    });
    if (IsVideo && !Header.Format)
        throw EInvalidAvi("the video stream has no format");
}

void ReadHeaderList(const TBytes& File, const TChunk& List, THeader& Header)
{
    int StreamIndex = 0;
    ForEachChunk(File, List.Begin + 4, List.Begin + List.Size, [&](const TChunk& Chunk) {
        if (Chunk.Id == FourCC("avih")) {
            if (Chunk.Size < 56)
                throw EInvalidAvi("the main header is too short");
            Header.HaveMain = true;
            Header.MicroSecPerFrame = File.U32(Chunk.Begin);
        } else if (IsList(File, Chunk, FourCC("strl"))) {
            ReadStreamList(File, Chunk, StreamIndex++, Header);
        }
    });
}

// The frame decoder: keeps the previous frame, since RLE8 frames may change only some pixels.
class TFrameDecoder {
public:
    TFrameDecoder(const TVideoFormat& Format, TAviClip& Clip)
        : F(Format), Clip(Clip), Pixels(static_cast<size_t>(Format.Width) * Format.Height, 0)
    {
    }

    void Decode(const uint8_t* Data, size_t Size)
    {
        const int64_t FramePixels = static_cast<int64_t>(F.Width) * F.Height;
        if ((static_cast<int64_t>(Clip.Frames.size()) + 1) * FramePixels > MaxAviTotalPixels)
            throw EInvalidAvi("the clip has too many frames");
        // An empty chunk is a dropped frame: the previous picture stays.
        if (Size > 0) {
            if (F.Compression == BiRle8)
                DecodeRle8(Data, Size);
            else
                DecodeRaw(Data, Size);
        }
        Clip.Frames.push_back(Compose());
    }

private:
    size_t RowStart(int64_t StoredRow) const
    {
        const int64_t Row = F.TopDown ? StoredRow : F.Height - 1 - StoredRow;
        return static_cast<size_t>(Row * F.Width);
    }

    void CheckIndex(uint8_t Index) const
    {
        if (Index >= F.Palette.size())
            throw EInvalidAvi("a pixel uses a colour outside the palette");
    }

    void DecodeRaw(const uint8_t* Data, size_t Size)
    {
        const size_t Stride = (static_cast<size_t>(F.Width) * (F.BitCount / 8) + 3) & ~static_cast<size_t>(3);
        if (Size / Stride < static_cast<size_t>(F.Height))
            throw EInvalidAvi("an uncompressed frame is too short");
        for (int32_t Y = 0; Y < F.Height; ++Y) {
            const uint8_t* Row = Data + Y * Stride;
            const size_t Out = RowStart(Y);
            for (int32_t X = 0; X < F.Width; ++X) {
                if (F.BitCount == 8) {
                    CheckIndex(Row[X]);
                    Pixels[Out + X] = Row[X];
                } else {
                    const uint8_t* Bgr = Row + 3 * X;
                    Pixels[Out + X] = static_cast<uint32_t>(Bgr[2]) << 16 | static_cast<uint32_t>(Bgr[1]) << 8 | Bgr[0];
                }
            }
        }
    }

    // Rows count from the bottom. Any code that would write outside the frame, or move the
    // position beyond it, makes the whole file invalid.
    void DecodeRle8(const uint8_t* Data, size_t Size)
    {
        const int64_t Width = F.Width;
        const int64_t Height = F.Height;
        int64_t X = 0;
        int64_t Y = 0;
        size_t At = 0;
        while (At < Size) {
            if (Size - At < 2)
                throw EInvalidAvi("RLE8 data ends inside a code");
            const uint8_t Count = Data[At];
            const uint8_t Value = Data[At + 1];
            At += 2;
            if (Count > 0) {
                if (Y >= Height || X + Count > Width)
                    throw EInvalidAvi("an RLE8 run writes outside the frame");
                CheckIndex(Value);
                const size_t Out = RowStart(Y) + static_cast<size_t>(X);
                std::fill(Pixels.begin() + Out, Pixels.begin() + Out + Count, Value);
                X += Count;
            } else if (Value == 0) {
                X = 0;
                if (++Y > Height)
                    throw EInvalidAvi("an RLE8 line end moves outside the frame");
            } else if (Value == 1) {
                return;
            } else if (Value == 2) {
                if (Size - At < 2)
                    throw EInvalidAvi("RLE8 data ends inside a code");
                X += Data[At];
                Y += Data[At + 1];
                At += 2;
                if (X > Width || Y > Height)
                    throw EInvalidAvi("an RLE8 delta moves outside the frame");
            } else {
                const size_t Literal = Value;
                if (Size - At < Literal)
                    throw EInvalidAvi("RLE8 data ends inside a literal run");
                if (Y >= Height || X + Value > Width)
                    throw EInvalidAvi("an RLE8 literal run writes outside the frame");
                const size_t Out = RowStart(Y) + static_cast<size_t>(X);
                for (size_t I = 0; I < Literal; ++I) {
                    CheckIndex(Data[At + I]);
                    Pixels[Out + I] = Data[At + I];
                }
                X += Value;
                At = std::min(Size, At + Literal + (Literal & 1));
            }
        }
    }

    std::vector<uint32_t> Compose()
    {
        std::vector<uint32_t> Frame(Pixels.size());
        if (F.BitCount == 8) {
            for (size_t I = 0; I < Pixels.size(); ++I)
                Frame[I] = F.Palette[Pixels[I]] | (Pixels[I] == 0 ? 0u : 0xFF000000u);
            return Frame;
        }
        if (!TransparentColour)
            TransparentColour = Pixels[0];
        for (size_t I = 0; I < Pixels.size(); ++I)
            Frame[I] = Pixels[I] | (Pixels[I] == *TransparentColour ? 0u : 0xFF000000u);
        return Frame;
    }

    const TVideoFormat& F;
    TAviClip& Clip;
    // Palette indices, or 0x00RRGGBB for 24-bit clips; top row first.
    std::vector<uint32_t> Pixels;
    std::optional<uint32_t> TransparentColour;
};

void DecodeMovieList(const TBytes& File, size_t Begin, size_t End, uint32_t FrameDb, uint32_t FrameDc,
    TFrameDecoder& Decoder, int Depth)
{
    ForEachChunk(File, Begin, End, [&](const TChunk& Chunk) {
        if (Chunk.Id == FrameDb || Chunk.Id == FrameDc) {
            Decoder.Decode(File.Data + Chunk.Begin, Chunk.Size);
        } else if (Chunk.Id == FourCC("LIST") && Chunk.Size >= 4) {
            if (Depth >= MaxListDepth)
                throw EInvalidAvi("the movie lists nest too deeply");
            DecodeMovieList(File, Chunk.Begin + 4, Chunk.Begin + Chunk.Size, FrameDb, FrameDc, Decoder, Depth + 1);
        }
    });
}

}  // namespace

TAviClip ReadAvi(const uint8_t* Data, size_t Size)
{
    const TBytes File{Data, Data ? Size : 0};
    if (File.Size < 12 || File.U32(0) != FourCC("RIFF") || File.U32(8) != FourCC("AVI "))
        throw EInvalidAvi("not a RIFF AVI file");
    const uint32_t RiffSize = File.U32(4);
    if (RiffSize < 4)
        throw EInvalidAvi("the RIFF chunk is empty");
    if (RiffSize > File.Size - 8)
        throw EInvalidAvi("the file is truncated");
    const size_t End = 8 + static_cast<size_t>(RiffSize);

    THeader Header;
    std::optional<TChunk> Movie;
    ForEachChunk(File, 12, End, [&](const TChunk& Chunk) {
        if (IsList(File, Chunk, FourCC("hdrl")))
            ReadHeaderList(File, Chunk, Header);
        else if (IsList(File, Chunk, FourCC("movi")) && !Movie)
            Movie = Chunk;
    });
    if (!Header.HaveMain)
        throw EInvalidAvi("the main header is missing");
    if (!Header.Format)
        throw EInvalidAvi("there is no video stream");
    if (!Movie)
        throw EInvalidAvi("the movie list is missing");

    TAviClip Clip;
    Clip.Width = Header.Format->Width;
    Clip.Height = Header.Format->Height;
    Clip.MicroSecPerFrame = Header.MicroSecPerFrame;
    if (Clip.MicroSecPerFrame == 0 && Header.StreamRate > 0 && Header.StreamScale > 0) {
        const uint64_t Micro = static_cast<uint64_t>(Header.StreamScale) * 1000000 / Header.StreamRate;
        Clip.MicroSecPerFrame = static_cast<uint32_t>(std::min<uint64_t>(Micro, UINT32_MAX));
    }
    const char Tens = static_cast<char>('0' + Header.VideoStream / 10);
    const char Ones = static_cast<char>('0' + Header.VideoStream % 10);
    const uint32_t FrameDb = FourCC({Tens, Ones, 'd', 'b', 0});
    const uint32_t FrameDc = FourCC({Tens, Ones, 'd', 'c', 0});

    TFrameDecoder Decoder(*Header.Format, Clip);
    DecodeMovieList(File, Movie->Begin + 4, Movie->Begin + Movie->Size, FrameDb, FrameDc, Decoder, 0);
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

TAnimate::TAnimate(QWidget* Parent) : QWidget(Parent)
{
    FTimer.setInterval(DefaultIntervalMs);
    connect(&FTimer, &QTimer::timeout, this, &TAnimate::NextFrame);
}

void TAnimate::SetFileName(const std::string& Path)
{
    if (Path.empty())
        Close();
    else
        Open(Path);
}

void TAnimate::Open(const std::string& Path)
{
    Close();
    FClip = ReadAviFile(Path);
    FFileName = Path;
    const uint64_t Micro = FClip.MicroSecPerFrame;
    const int Ms = Micro == 0 ? DefaultIntervalMs : static_cast<int>(std::min<uint64_t>((Micro + 500) / 1000, MaxIntervalMs));
    FTimer.setInterval(std::clamp(Ms, MinIntervalMs, MaxIntervalMs));
    FCurrentFrame = std::min(FStartFrame, FrameCount() - 1);
    updateGeometry();
    update();
}

void TAnimate::Close()
{
    SetActive(false);
    FClip = TAviClip();
    FFileName.clear();
    FCurrentFrame = 0;
    update();
}

void TAnimate::SetStartFrame(int Frame)
{
    FStartFrame = std::max(0, Frame);
}

void TAnimate::SetStopFrame(int Frame)
{
    FStopFrame = std::max(-1, Frame);
}

void TAnimate::SetRepetitions(int Count)
{
    FRepetitions = std::max(0, Count);
}

int TAnimate::LastFrame() const
{
    const int Last = FStopFrame < 0 || FStopFrame >= FrameCount() ? FrameCount() - 1 : FStopFrame;
    return std::max(Last, std::min(FStartFrame, FrameCount() - 1));
}

void TAnimate::SetActive(bool Value)
{
    if (!Value) {
        FTimer.stop();
        FActive = false;
        return;
    }
    if (FActive || !IsOpen())
        return;
    FActive = true;
    FPassesLeft = FRepetitions;
    FCurrentFrame = std::min(FStartFrame, FrameCount() - 1);
    FTimer.start();
    update();
}

void TAnimate::Play(int FromFrame, int ToFrame, int Count)
{
    SetStartFrame(FromFrame);
    SetStopFrame(ToFrame);
    SetRepetitions(Count);
    SetActive(false);
    SetActive(true);
}

void TAnimate::Seek(int Frame)
{
    SetActive(false);
    if (IsOpen())
        FCurrentFrame = std::clamp(Frame, 0, FrameCount() - 1);
    update();
}

void TAnimate::Reset()
{
    Seek(FStartFrame);
}

void TAnimate::NextFrame()
{
    if (!FActive)
        return;
    const int First = std::min(FStartFrame, FrameCount() - 1);
    if (FCurrentFrame < First) {
        FCurrentFrame = First;
    } else if (FCurrentFrame >= LastFrame()) {
        if (FRepetitions > 0 && --FPassesLeft <= 0) {
            SetActive(false);
            return;
        }
        FCurrentFrame = First;
    } else {
        ++FCurrentFrame;
    }
    update();
}

void TAnimate::SetTransparent(bool Value)
{
    FTransparent = Value;
    update();
}

QImage TAnimate::FrameImage(int Frame) const
{
    if (Frame < 0 || Frame >= FrameCount())
        return QImage();
    QImage Image(FClip.Width, FClip.Height, QImage::Format_ARGB32);
    const std::vector<uint32_t>& Pixels = FClip.Frames[static_cast<size_t>(Frame)];
    const uint32_t Opaque = FTransparent ? 0u : 0xFF000000u;
    for (int Y = 0; Y < FClip.Height; ++Y) {
        auto* Line = reinterpret_cast<uint32_t*>(Image.scanLine(Y));
        const uint32_t* Source = Pixels.data() + static_cast<size_t>(Y) * FClip.Width;
        for (int X = 0; X < FClip.Width; ++X)
            Line[X] = Source[X] | Opaque;
    }
    return Image;
}

QSize TAnimate::sizeHint() const
{
    return IsOpen() ? QSize(FClip.Width, FClip.Height) : QSize(32, 32);
}

void TAnimate::paintEvent(QPaintEvent*)
{
    if (!IsOpen())
        return;
    QPainter Painter(this);
    Painter.drawImage(QPoint((width() - FClip.Width) / 2, (height() - FClip.Height) / 2), FrameImage(FCurrentFrame));
}
