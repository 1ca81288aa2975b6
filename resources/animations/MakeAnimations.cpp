// Writes the two clips the main window plays while it works: MakeImage.avi (data blocks stream
// from a diskette into a drive) and MakeDisk.avi (the reverse). 32 x 32, 16 palette colours on
// white, 34 frames that loop seamlessly at 15 frames a second, RLE8 compressed unless
// --uncompressed is given.
//
//   marrowtide-make-animations [--uncompressed] OUTPUT_DIR

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int Side = 32;
constexpr int FrameCount = 34;
constexpr uint32_t FramesPerSecond = 15;

// Index 0 is the background: the player treats it as transparent.
enum TColour : uint8_t {
    White, Outline, DiskBlue, DiskShade, Shutter, ShutterSlot, Label, LabelLine,
    DriveTop, DriveFront, DriveDark, LedOff, LedOn, BlockGreen, BlockOrange, BlockEdge, ColourCount
};
constexpr std::array<uint32_t, ColourCount> Palette = {
    0xFFFFFF, 0x1C1C24, 0x2F63C8, 0x1F4590, 0xD0D4DA, 0x5A5E66, 0xF6F3E6, 0x9AA6C0,
    0xE2E2E2, 0xB4B4B8, 0x64646C, 0x1F5A28, 0x3CF05A, 0x2CB048, 0xF39A1E, 0x505050,
};

using TCanvas = std::array<std::array<uint8_t, Side>, Side>;  // [y][x], top row first

void Fill(TCanvas& Canvas, int X0, int Y0, int X1, int Y1, uint8_t Colour)
{
    for (int Y = Y0; Y <= Y1; ++Y)
        for (int X = X0; X <= X1; ++X)
            if (X >= 0 && X < Side && Y >= 0 && Y < Side)
                Canvas[Y][X] = Colour;
}

void Box(TCanvas& Canvas, int X0, int Y0, int X1, int Y1, uint8_t Edge, uint8_t Inside)
{
    Fill(Canvas, X0, Y0, X1, Y1, Edge);
    Fill(Canvas, X0 + 1, Y0 + 1, X1 - 1, Y1 - 1, Inside);
}

// A 3.5-inch diskette, 12 x 13, its chamfered corner top right.
void DrawDiskette(TCanvas& Canvas)
{
    Box(Canvas, 0, 9, 11, 21, Outline, DiskBlue);
    Fill(Canvas, 10, 9, 11, 9, White);
    Canvas[10][11] = White;
    Canvas[10][10] = Outline;
    Fill(Canvas, 1, 19, 10, 20, DiskShade);
    Box(Canvas, 3, 9, 8, 14, Outline, Shutter);
    Fill(Canvas, 6, 10, 7, 13, ShutterSlot);
    Box(Canvas, 2, 15, 9, 21, Outline, Label);
    Fill(Canvas, 3, 17, 8, 17, LabelLine);
    Fill(Canvas, 3, 19, 8, 19, LabelLine);
}

// A hard disk seen from the front and a little from above, with its activity light.
void DrawDrive(TCanvas& Canvas, bool LedLit)
{
    Box(Canvas, 20, 10, 31, 20, Outline, DriveFront);
    Fill(Canvas, 21, 11, 30, 12, DriveTop);
    Fill(Canvas, 21, 13, 30, 13, DriveDark);
    Fill(Canvas, 22, 16, 26, 16, DriveDark);
    Fill(Canvas, 22, 18, 26, 18, DriveDark);
    Fill(Canvas, 28, 17, 29, 18, LedLit ? LedOn : LedOff);
}

// Six blocks, 3 pixels wide, spread over a 34-pixel loop that moves one pixel a frame, so the
// last frame leads into the first. Only the gap between the two pictures shows them; they seem
// to leave one and enter the other.
constexpr int GapFirst = 12;
constexpr int GapLast = 19;
constexpr int BlockCount = 6;

int Modulo(int Value, int Divisor)
{
    return ((Value % Divisor) + Divisor) % Divisor;
}

TCanvas DrawFrame(int Frame, bool ToDrive)
{
    TCanvas Canvas{};
    bool LedLit = false;
    for (int Block = 0; Block < BlockCount; ++Block) {
        const int Along = Block * FrameCount / BlockCount + (ToDrive ? Frame : -Frame);
        const int Left = GapFirst - 3 + Modulo(Along, FrameCount);
        const uint8_t Colour = Block % 2 == 0 ? BlockGreen : BlockOrange;
        for (int X = std::max(Left, GapFirst); X <= std::min(Left + 2, GapLast); ++X) {
            Fill(Canvas, X, 14, X, 16, Colour);
            Canvas[17][X] = BlockEdge;
        }
        // The drive's light flickers while blocks pass its edge.
        if (Left >= GapLast - 1 && Left <= GapLast + 1)
            LedLit = true;
    }
    DrawDiskette(Canvas);
    DrawDrive(Canvas, LedLit);
    return Canvas;
}

// One row in RLE8: runs of three or more as counted runs, other pixels as literal runs.
void EncodeRow(const std::array<uint8_t, Side>& Row, std::vector<uint8_t>& Out)
{
    auto RunAt = [&](int X) {
        int Run = 1;
        while (X + Run < Side && Row[X + Run] == Row[X] && Run < 255)
            ++Run;
        return Run;
    };
    int X = 0;
    while (X < Side) {
        const int Run = RunAt(X);
        if (Run >= 3) {
            Out.push_back(static_cast<uint8_t>(Run));
            Out.push_back(Row[X]);
            X += Run;
            continue;
        }
        const int Start = X;
        while (X < Side && X - Start < 255 && RunAt(X) < 3)
            ++X;
        const int Length = X - Start;
        if (Length < 3) {
            // Literal runs are at least 3 long; shorter stretches go as runs of one.
            for (int I = Start; I < X; ++I) {
                Out.push_back(1);
                Out.push_back(Row[I]);
            }
            continue;
        }
        Out.push_back(0);
        Out.push_back(static_cast<uint8_t>(Length));
        Out.insert(Out.end(), Row.begin() + Start, Row.begin() + X);
        if (Length % 2 != 0)
            Out.push_back(0);
    }
}

std::vector<uint8_t> EncodeFrame(const TCanvas& Canvas, bool Compressed)
{
    std::vector<uint8_t> Out;
    for (int Y = Side - 1; Y >= 0; --Y) {
        if (!Compressed) {
            Out.insert(Out.end(), Canvas[Y].begin(), Canvas[Y].end());
            continue;
        }
        EncodeRow(Canvas[Y], Out);
        Out.push_back(0);
        Out.push_back(Y == 0 ? 1 : 0);
    }
    return Out;
}

class TRiffWriter {
public:
    std::vector<uint8_t> Bytes;

    void U16(uint32_t Value)
    {
        Bytes.push_back(static_cast<uint8_t>(Value));
        Bytes.push_back(static_cast<uint8_t>(Value >> 8));
    }
    void U32(uint32_t Value)
    {
        U16(Value & 0xFFFF);
        U16(Value >> 16);
    }
    void Id(const char* FourCC) { Bytes.insert(Bytes.end(), FourCC, FourCC + 4); }
    // Returns where the chunk's size goes, for End.
    size_t Begin(const char* FourCC, const char* ListType = nullptr)
    {
        Id(FourCC);
        const size_t At = Bytes.size();
        U32(0);
        if (ListType)
            Id(ListType);
        return At;
    }
    void End(size_t At)
    {
        const size_t Size = Bytes.size() - At - 4;
        for (int I = 0; I < 4; ++I)
            Bytes[At + I] = static_cast<uint8_t>(Size >> (8 * I));
        if (Size % 2 != 0)
            Bytes.push_back(0);
    }
};

std::vector<uint8_t> MakeClip(bool ToDrive, bool Compressed)
{
    std::vector<std::vector<uint8_t>> Frames;
    uint32_t Largest = 0;
    for (int Frame = 0; Frame < FrameCount; ++Frame) {
        Frames.push_back(EncodeFrame(DrawFrame(Frame, ToDrive), Compressed));
        Largest = std::max<uint32_t>(Largest, static_cast<uint32_t>(Frames.back().size()));
    }
    const char* FrameId = Compressed ? "00dc" : "00db";

    TRiffWriter W;
    const size_t Riff = W.Begin("RIFF", "AVI ");
    const size_t HeaderList = W.Begin("LIST", "hdrl");
    const size_t Main = W.Begin("avih");
    W.U32(1000000 / FramesPerSecond + 1);  // 66667 us
    W.U32(Largest * FramesPerSecond);
    W.U32(0);
    W.U32(0x10);  // has an index
    W.U32(FrameCount);
    W.U32(0);
    W.U32(1);
    W.U32(Largest);
    W.U32(Side);
    W.U32(Side);
    for (int I = 0; I < 4; ++I)
        W.U32(0);
    W.End(Main);
    const size_t StreamList = W.Begin("LIST", "strl");
    const size_t StreamHeader = W.Begin("strh");
    W.Id("vids");
    W.U32(0);  // no particular handler
    W.U32(0);
    W.U32(0);  // priority, language
    W.U32(0);
    W.U32(1);  // scale / rate = seconds per frame
    W.U32(FramesPerSecond);
    W.U32(0);
    W.U32(FrameCount);
    W.U32(Largest);
    W.U32(0xFFFFFFFF);
    W.U32(0);
    W.U16(0);
    W.U16(0);
    W.U16(Side);
    W.U16(Side);
    W.End(StreamHeader);
    const size_t Format = W.Begin("strf");
    W.U32(40);
    W.U32(Side);
    W.U32(Side);  // bottom row first
    W.U16(1);
    W.U16(8);
    W.U32(Compressed ? 1 : 0);
    W.U32(Compressed ? Largest : Side * Side);
    W.U32(0);
    W.U32(0);
    W.U32(ColourCount);
    W.U32(0);
    for (uint32_t Colour : Palette)
        W.U32(Colour);  // blue, green, red, 0 in the file
    W.End(Format);
    W.End(StreamList);
    W.End(HeaderList);

    const size_t Movie = W.Begin("LIST", "movi");
    const size_t MovieType = Movie + 4;
    std::vector<std::pair<uint32_t, uint32_t>> Index;  // offset from 'movi', size
    for (const std::vector<uint8_t>& Frame : Frames) {
        Index.emplace_back(static_cast<uint32_t>(W.Bytes.size() - MovieType), static_cast<uint32_t>(Frame.size()));
        const size_t Chunk = W.Begin(FrameId);
        W.Bytes.insert(W.Bytes.end(), Frame.begin(), Frame.end());
        W.End(Chunk);
    }
    W.End(Movie);
    const size_t IndexChunk = W.Begin("idx1");
    for (const auto& [Offset, Size] : Index) {
        W.Id(FrameId);
        W.U32(0x10);  // key frame
        W.U32(Offset);
        W.U32(Size);
    }
    W.End(IndexChunk);
    W.End(Riff);
    return W.Bytes;
}

bool WriteFile(const std::string& Path, const std::vector<uint8_t>& Bytes)
{
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    Out.close();
    if (!Out) {
        std::fprintf(stderr, "marrowtide-make-animations: cannot write %s\n", Path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int Argc, char** Argv)
{
    bool Compressed = true;
    bool Usable = true;
    std::string Folder;
    for (int I = 1; I < Argc; ++I) {
        const std::string Argument = Argv[I];
        if (Argument == "--uncompressed")
            Compressed = false;
        else if (Folder.empty() && !Argument.empty() && Argument[0] != '-')
            Folder = Argument;
        else
            Usable = false;
    }
    if (!Usable || Folder.empty()) {
        std::fprintf(stderr, "usage: marrowtide-make-animations [--uncompressed] OUTPUT_DIR\n");
        return 2;
    }
    if (Folder.back() != '/')
        Folder += '/';
    const bool Written = WriteFile(Folder + "MakeImage.avi", MakeClip(true, Compressed))
        && WriteFile(Folder + "MakeDisk.avi", MakeClip(false, Compressed));
    return Written ? 0 : 1;
}
