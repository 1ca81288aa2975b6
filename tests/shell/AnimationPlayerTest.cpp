#include "shell/AnimationPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <unistd.h>

namespace {

using TBytes = std::vector<uint8_t>;

void Put32(TBytes& B, uint32_t V)
{
    for (int I = 0; I < 4; ++I)
        B.push_back(static_cast<uint8_t>(V >> (8 * I)));
}

void Put16(TBytes& B, uint32_t V)
{
    B.push_back(static_cast<uint8_t>(V));
    B.push_back(static_cast<uint8_t>(V >> 8));
}

TBytes Id(const char* FourCC) { return TBytes(FourCC, FourCC + 4); }

TBytes Cat(std::initializer_list<TBytes> Parts)
{
    TBytes Out;
    for (const TBytes& Part : Parts)
        Out.insert(Out.end(), Part.begin(), Part.end());
    return Out;
}

TBytes Chunk(const char* FourCC, const TBytes& Data)
{
    TBytes Out = Id(FourCC);
    Put32(Out, static_cast<uint32_t>(Data.size()));
    Out.insert(Out.end(), Data.begin(), Data.end());
    if (Data.size() % 2 != 0)
        Out.push_back(0);
    return Out;
}

TBytes List(const char* Type, const TBytes& Body) { return Chunk("LIST", Cat({Id(Type), Body})); }

// A clip assembled field by field, so each test can spoil exactly one thing.
struct TTestAvi {
    int32_t Width = 4;
    int32_t Height = 3;  // as stored: negative means top row first
    uint16_t BitCount = 8;
    uint32_t Compression = 1;
    std::vector<uint32_t> Palette = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};
    std::optional<uint32_t> ColoursUsed;
    uint32_t MicroSecPerFrame = 50000;
    std::vector<TBytes> Frames;
    const char* FrameId = "00dc";
    bool WithIndex = false;

    TBytes Build() const
    {
        TBytes Main;
        Put32(Main, MicroSecPerFrame);
        Main.resize(56, 0);
        TBytes Stream = Id("vids");
        Stream.resize(56, 0);
        TBytes Format;
        Put32(Format, 40);
        Put32(Format, static_cast<uint32_t>(Width));
        Put32(Format, static_cast<uint32_t>(Height));
        Put16(Format, 1);
        Put16(Format, BitCount);
        Put32(Format, Compression);
        Format.resize(32, 0);
        Put32(Format, ColoursUsed.value_or(static_cast<uint32_t>(Palette.size())));
        Put32(Format, 0);
        for (uint32_t Colour : Palette)
            Put32(Format, Colour);
        TBytes Movie, Index;
        for (const TBytes& Frame : Frames) {
            Index = Cat({Index, Id(FrameId)});
            Put32(Index, 0x10);
            Put32(Index, static_cast<uint32_t>(Movie.size() + 4));
            Put32(Index, static_cast<uint32_t>(Frame.size()));
            Movie = Cat({Movie, Chunk(FrameId, Frame)});
        }
        TBytes Body = Cat({Id("AVI "),
            List("hdrl", Cat({Chunk("avih", Main), List("strl", Cat({Chunk("strh", Stream), Chunk("strf", Format)}))})),
            List("movi", Movie)});
        if (WithIndex)
            Body = Cat({Body, Chunk("idx1", Index)});
        return Chunk("RIFF", Body);
    }
};

constexpr uint32_t T = 0x00FFFFFF;  // palette index 0: white, transparent
constexpr uint32_t R = 0xFFFF0000;
constexpr uint32_t G = 0xFF00FF00;
constexpr uint32_t B = 0xFF0000FF;

// The colour shown for frame I of a numbered clip (see WriteNumberedClip).
constexpr uint32_t NumberColour(int Frame) { return 0x202020u * static_cast<uint32_t>(Frame + 1); }

std::string DetailOf(const TBytes& File)
{
    try {
        ReadAvi(File);
    } catch (const EInvalidAvi& Error) {
        EXPECT_STREQ(Error.what(), "Cannot open AVI");
        return Error.Detail();
    }
    return "(accepted)";
}

class TAnimationFiles : public ::testing::Test {
protected:
    std::filesystem::path Folder = std::filesystem::temp_directory_path()
        / ("marrowtide-animation-" + std::to_string(::getpid()));

    void SetUp() override { std::filesystem::create_directories(Folder); }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    std::string Write(const std::string& Name, const TBytes& Bytes) const
    {
        const std::string Path = (Folder / Name).string();
        std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
        return Path;
    }

    // A 4 x 3 clip whose frame I is filled with palette colour I + 1, NumberColour(I).
    std::string WriteNumberedClip(int Count, uint32_t MicroSecPerFrame = 50000) const
    {
        TTestAvi Avi;
        Avi.MicroSecPerFrame = MicroSecPerFrame;
        Avi.Palette = {0xFFFFFF};
        for (int I = 0; I < Count; ++I) {
            Avi.Palette.push_back(NumberColour(I));
            const uint8_t Index = static_cast<uint8_t>(I + 1);
            Avi.Frames.push_back({4, Index, 0, 0, 4, Index, 0, 0, 4, Index, 0, 1});
        }
        return Write("numbered.avi", Avi.Build());
    }
};

// The number of the frame a player of a numbered clip shows.
int ShownFrame(TAnimate& Player)
{
    return static_cast<int>((Player.grab().toImage().pixel(1, 1) & 0xFF) / 0x20) - 1;
}

// The frames the player shows while it plays, one entry per change, until Count entries or 3 s.
std::vector<int> WatchFrames(TAnimate& Player, size_t Count)
{
    std::vector<int> Seen{ShownFrame(Player)};
    QElapsedTimer Clock;
    Clock.start();
    while (Seen.size() < Count && Clock.elapsed() < 3000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        if (ShownFrame(Player) != Seen.back())
            Seen.push_back(ShownFrame(Player));
    }
    return Seen;
}

// Optionally saves the clip's frames, 6 times enlarged on white, for a look at them.
void DumpStrip(const TAviClip& Clip, const std::string& Name)
{
    const char* Folder = std::getenv("MARROWTIDE_ANIMATION_STRIP");
    if (!Folder)
        return;
    const int Scale = 6;
    const int Cell = (Clip.Width + 2) * Scale;
    const int Count = static_cast<int>(Clip.Frames.size());
    QImage Strip(Cell * 9, Cell * ((Count + 8) / 9), QImage::Format_RGB32);
    Strip.fill(Qt::white);
    QPainter Painter(&Strip);
    for (int I = 0; I < Count; ++I)
        Painter.drawImage(QRect((I % 9) * Cell + Scale, (I / 9) * Cell + Scale, Clip.Width * Scale, Clip.Height * Scale),
            QImage(reinterpret_cast<const uchar*>(Clip.Frames[static_cast<size_t>(I)].data()), Clip.Width,
                Clip.Height, QImage::Format_ARGB32));
    Strip.save(QString::fromStdString(std::string(Folder) + "/" + Name + ".png"));
}

// The generator's uncompressed clip as the reader would show it: palette colours, top row first,
// colour 0 transparent. Its layout is the generator's own: 32 x 32, frames in '00db' chunks.
std::vector<std::vector<uint32_t>> UncompressedFrames(const TBytes& File)
{
    auto Find = [&](const char* FourCC) {
        return static_cast<size_t>(std::search(File.begin(), File.end(), FourCC, FourCC + 4) - File.begin());
    };
    auto Get32 = [&](size_t At) { return File[At] | File[At + 1] << 8 | File[At + 2] << 16; };
    const size_t Palette = Find("strf") + 8 + 40;
    std::vector<std::vector<uint32_t>> Frames;
    for (size_t At = Find("movi") + 4; At + 8 + 1024 <= File.size() && std::equal(File.begin() + At,
             File.begin() + At + 4, "00db"); At += 8 + 1024) {
        std::vector<uint32_t> Frame;
        for (size_t Y = 32; Y-- > 0;)
            for (size_t X = 0; X < 32; ++X) {
                const uint8_t Index = File[At + 8 + Y * 32 + X];
                Frame.push_back(Get32(Palette + 4 * Index) | (Index == 0 ? 0u : 0xFF000000u));
            }
        Frames.push_back(Frame);
    }
    return Frames;
}

TEST(AviDecode, Rle8RunsLiteralsDeltasAndDroppedFramesBuildOnThePreviousFrame)
{
    TTestAvi Avi;
    Avi.WithIndex = true;
    Avi.Frames = {
        // Bottom row first: a run; an odd literal with its pad, then a run; two runs, end.
        {4, 1, 0, 0, 0, 3, 2, 3, 2, 0, 1, 3, 0, 0, 2, 0, 2, 2, 0, 1},
        // Jump to (1, 1) and change two pixels; the rest stays.
        {0, 2, 1, 1, 2, 1, 0, 1},
        // An empty chunk repeats the frame.
        {},
        // Data that just ends, without an end code.
        {3, 3},
    };
    const TAviClip Clip = ReadAvi(Avi.Build());
    ASSERT_EQ(Clip.Frames.size(), 4u);
    EXPECT_EQ(Clip.Frames[0], (std::vector<uint32_t>{T, T, G, G, G, B, G, B, R, R, R, R}));
    EXPECT_EQ(Clip.Frames[1], (std::vector<uint32_t>{T, T, G, G, G, R, R, B, R, R, R, R}));
    EXPECT_EQ(Clip.Frames[2], Clip.Frames[1]);
    EXPECT_EQ(Clip.Frames[3], (std::vector<uint32_t>{T, T, G, G, G, R, R, B, B, B, B, R}));
}

TEST(AviDecode, MaliciousRle8IsRefusedWithoutWritingOutsideTheFrame)
{
    const std::vector<std::pair<const char*, TBytes>> Cases = {
        {"run past the row end", {5, 1}},
        {"run of 255", {255, 1}},
        {"run after the last row", {0, 0, 0, 0, 0, 0, 1, 1}},
        {"line end past the top", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"delta past the right edge", {0, 2, 5, 0}},
        {"delta past the top", {0, 2, 0, 4}},
        {"run crossing the edge after a delta", {0, 2, 3, 2, 2, 1}},
        {"literal past the row end", {1, 1, 0, 4, 1, 1, 1, 1}},
        {"literal cut off", {0, 5, 1, 1}},
        {"code cut off", {4}},
        {"delta cut off", {0, 2, 1}},
        {"colour outside the palette", {1, 7}},
    };
    for (const auto& [Name, Data] : Cases) {
        TTestAvi Avi;
        Avi.Frames = {{4, 1, 0, 1}, Data};
        EXPECT_NE(DetailOf(Avi.Build()), "(accepted)") << Name;
    }
}

TEST(AviDecode, RefusesFormatsAndHeadersItCannotPlay)
{
    auto Spoilt = [](auto Change) {
        TTestAvi Avi;
        Avi.Frames = {{4, 1, 0, 1}};
        Change(Avi);
        return DetailOf(Avi.Build());
    };
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Compression = 0x47504A4D; }).find("codec"), std::string::npos);  // 'MJPG'
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Compression = 0; }).find("codec"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.BitCount = 16, A.Compression = 0; }).find("codec"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Width = 5000; }).find("size"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Height = INT32_MIN; }).find("size"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Height = -3; }).find("top-down"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.ColoursUsed = 300; }).find("palette"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.ColoursUsed = 0; }).find("palette"), std::string::npos);  // 0 means 256
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Frames.clear(); }).find("no frames"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.FrameId = "01dc"; }).find("no frames"), std::string::npos);
    // Five frames of 2048 x 2048: each passes the frame size check but not the memory bound.
    TTestAvi Huge;
    Huge.Width = Huge.Height = 2048;
    Huge.Frames.assign(5, {0, 1});
    EXPECT_NE(DetailOf(Huge.Build()).find("too many frames"), std::string::npos);

    EXPECT_NE(DetailOf(TBytes(100, 0xA5)).find("not a RIFF AVI"), std::string::npos);
    EXPECT_NE(DetailOf(Cat({Id("RIFF"), TBytes{200, 0, 0, 0}, Id("AVI "), TBytes(60, 0xFF)})).find("truncated"),
        std::string::npos);
    EXPECT_NE(DetailOf(Chunk("RIFF", Cat({Id("AVI "), Chunk("JUNK", TBytes(8, 0))}))).find("missing"),
        std::string::npos);
    EXPECT_THROW(ReadAvi({}), EInvalidAvi);
}

TEST(AviDecode, EveryTruncationIsRefusedOrDecodedSafely)
{
    TTestAvi Avi;
    Avi.WithIndex = true;
    Avi.Frames = {{4, 1, 0, 0, 0, 3, 2, 3, 2, 0, 1, 3, 0, 0, 2, 0, 2, 2, 0, 1}, {0, 2, 1, 1, 2, 1, 0, 1}};
    const TBytes Whole = Avi.Build();
    for (size_t Length = 0; Length < Whole.size(); ++Length) {
        TBytes Cut(Whole.begin(), Whole.begin() + static_cast<std::ptrdiff_t>(Length));
        EXPECT_THROW(ReadAvi(Cut), EInvalidAvi) << Length;
        // With the outer size made to fit, the inner chunks must still be checked.
        if (Length >= 8) {
            const uint32_t Inner = static_cast<uint32_t>(Length - 8);
            for (int I = 0; I < 4; ++I)
                Cut[4 + I] = static_cast<uint8_t>(Inner >> (8 * I));
            try {
                const TAviClip Clip = ReadAvi(Cut);
                EXPECT_LE(Clip.Frames.size(), 2u);
            } catch (const EInvalidAvi&) {
            }
        }
    }
}

TEST_F(TAnimationFiles, GeneratedClipsOpenAndMove)
{
    for (const char* Name : {"MakeImage", "MakeDisk"}) {
        const std::string Path = std::string(ANIMATION_DIR) + "/" + Name + ".avi";
        TAnimate Player;
        EXPECT_NO_THROW(Player.SetFileName(Path));
        const TAviClip Clip = ReadAviFile(Path);
        EXPECT_GE(Clip.Frames.size(), 34u) << Name;
        EXPECT_EQ(Clip.Width, 32);
        EXPECT_EQ(Clip.Height, 32);
        EXPECT_EQ(Clip.FramePeriodMs, 67);
        EXPECT_EQ(Clip.Frames[0][0] >> 24, 0u) << "the background shows through";
        EXPECT_NE(Clip.Frames[0], Clip.Frames[1]) << Name;
        DumpStrip(Clip, Name);
    }
}

TEST_F(TAnimationFiles, GeneratorEncodesRle8AsItsUncompressedFrames)
{
    const std::string Command = std::string(MAKE_ANIMATIONS) + " --uncompressed " + Folder.string();
    ASSERT_EQ(std::system(Command.c_str()), 0);
    for (const char* Name : {"/MakeImage.avi", "/MakeDisk.avi"}) {
        std::ifstream In(Folder.string() + Name, std::ios::binary);
        const auto Raw = UncompressedFrames(TBytes(std::istreambuf_iterator<char>(In), {}));
        const TAviClip Rle = ReadAviFile(ANIMATION_DIR + std::string(Name));
        ASSERT_EQ(Raw.size(), Rle.Frames.size());
        for (size_t I = 0; I < Raw.size(); ++I)
            EXPECT_EQ(Raw[I], Rle.Frames[I]) << Name << " frame " << I;
        EXPECT_LT(std::filesystem::file_size(ANIMATION_DIR + std::string(Name)),
            std::filesystem::file_size(Folder.string() + Name));
    }
}

TEST_F(TAnimationFiles, AFileThatCannotBeOpenedLeavesThePlayerClosed)
{
    TAnimate Closed;
    Closed.resize(4, 3);
    const QImage Nothing = Closed.grab().toImage();
    TAnimate Player;
    Player.resize(4, 3);
    Player.SetFileName(WriteNumberedClip(2));
    ASSERT_NE(Player.grab().toImage(), Nothing);
    for (const std::string& Path : {(Folder / "missing.avi").string(), Folder.string(), Write("bad.avi", TBytes(64, 7))}) {
        try {
            Player.SetFileName(Path);
            ADD_FAILURE() << Path << " was opened";
        } catch (const std::runtime_error& Error) {
            EXPECT_STREQ(Error.what(), "Cannot open AVI");
        }
        Player.SetActive(true);
        QApplication::processEvents();
        EXPECT_EQ(Player.grab().toImage(), Nothing) << Path;
    }
}

TEST_F(TAnimationFiles, PlaysUpToStopFrameAndWraps)
{
    TAnimate Player;
    Player.resize(4, 3);
    const std::string Path = WriteNumberedClip(6);
    EXPECT_EQ(ReadAviFile(Path).FramePeriodMs, 50);
    Player.SetFileName(Path);
    Player.SetStopFrame(3);
    Player.SetActive(true);
    EXPECT_EQ(WatchFrames(Player, 10), (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1}));

    Player.SetStopFrame(99);  // a stop frame past the end means the last frame
    Player.SetActive(false);
    Player.SetActive(true);
    EXPECT_EQ(WatchFrames(Player, 8), (std::vector<int>{0, 1, 2, 3, 4, 5, 0, 1}));
}

TEST_F(TAnimationFiles, TheTimerAdvancesFramesAtTheClipsRate)
{
    TAnimate Player;
    Player.resize(4, 3);
    const std::string Path = WriteNumberedClip(3, 10000);
    EXPECT_EQ(ReadAviFile(Path).FramePeriodMs, 10);
    Player.SetFileName(Path);
    Player.SetActive(true);
    EXPECT_EQ(WatchFrames(Player, 4), (std::vector<int>{0, 1, 2, 0}));
    Player.SetActive(false);
    const int Stopped = ShownFrame(Player);
    QElapsedTimer Clock;
    Clock.start();
    while (Clock.elapsed() < 50)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(ShownFrame(Player), Stopped);
}

TEST_F(TAnimationFiles, PaintsCentredWithThePaletteZeroColourTransparent)
{
    TTestAvi Avi;
    Avi.Palette[0] = 0x123456;
    Avi.Frames = {{4, 1, 0, 0, 0, 3, 2, 3, 2, 0, 1, 3, 0, 0, 2, 0, 2, 2, 0, 1}};
    QWidget Box;
    Box.resize(50, 50);
    QPalette White;
    White.setColor(QPalette::Window, Qt::white);
    Box.setPalette(White);
    Box.setAutoFillBackground(true);
    TAnimate Player(&Box);
    Player.setGeometry(4, 6, 36, 34);
    Player.SetFileName(Write("paint.avi", Avi.Build()));
    // The 4 x 3 frame sits at (4 + 16, 6 + 15).
    const QImage Shot = Box.grab().toImage();
    EXPECT_EQ(Shot.pixel(20, 21), qRgb(255, 255, 255));
    EXPECT_EQ(Shot.pixel(22, 21), qRgb(0, 255, 0));
    EXPECT_EQ(Shot.pixel(21, 22), qRgb(0, 0, 255));
    EXPECT_EQ(Shot.pixel(23, 23), qRgb(255, 0, 0));
    EXPECT_EQ(Shot.pixel(19, 21), qRgb(255, 255, 255));
    EXPECT_EQ(Shot.pixel(24, 23), qRgb(255, 255, 255));
}

}  // namespace

int main(int Argc, char** Argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(Argc, Argv);
    ::testing::InitGoogleTest(&Argc, Argv);
    return RUN_ALL_TESTS();
}
