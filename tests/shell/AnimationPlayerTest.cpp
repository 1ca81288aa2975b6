#include "shell/AnimationPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
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
    uint32_t Scale = 0;
    uint32_t Rate = 0;
    std::vector<TBytes> Frames;
    const char* FrameId = "00dc";
    bool InRecList = false;
    bool WithIndex = false;

    TBytes Build() const
    {
        TBytes Main;
        Put32(Main, MicroSecPerFrame);
        Main.resize(56, 0);
        TBytes Stream = Id("vids");
        Stream.resize(20, 0);
        Put32(Stream, Scale);
        Put32(Stream, Rate);
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
        if (InRecList)
            Movie = Cat({Chunk("JUNK", TBytes(3, 0)), List("rec ", Movie)});
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

    // A 4 x 3 clip whose frames are filled with their number as a palette index (0..3).
    std::string WriteNumberedClip(int Count) const
    {
        TTestAvi Avi;
        for (int I = 0; I < Count; ++I) {
            const uint8_t Index = static_cast<uint8_t>(I % 4);
            Avi.Frames.push_back({4, Index, 0, 0, 4, Index, 0, 0, 4, Index, 0, 1});
        }
        return Write("numbered.avi", Avi.Build());
    }
};

// Optionally saves the clip's frames, 4 times enlarged on white, for a look at them.
void DumpStrip(const TAnimate& Player, const std::string& Name)
{
    const char* Folder = std::getenv("MARROWTIDE_ANIMATION_STRIP");
    if (!Folder)
        return;
    const int Scale = 6;
    const int Cell = (Player.FrameWidth() + 2) * Scale;
    QImage Strip(Cell * 9, Cell * ((Player.FrameCount() + 8) / 9), QImage::Format_RGB32);
    Strip.fill(Qt::white);
    QPainter Painter(&Strip);
    for (int I = 0; I < Player.FrameCount(); ++I)
        Painter.drawImage(QRect((I % 9) * Cell + Scale, (I / 9) * Cell + Scale, Player.FrameWidth() * Scale,
                              Player.FrameHeight() * Scale),
            Player.FrameImage(I));
    Strip.save(QString::fromStdString(std::string(Folder) + "/" + Name + ".png"));
}

TEST(AviDecode, UncompressedEightBitSkipsRowPaddingInBothRowOrders)
{
    TTestAvi Avi;
    Avi.Width = 3;
    Avi.Height = 2;
    Avi.Compression = 0;
    Avi.FrameId = "00db";
    // Rows are padded to 4 bytes; the pad (9) is no colour of the palette.
    Avi.Frames = {{1, 2, 3, 9, 0, 1, 0, 9}};
    TAviClip Clip = ReadAvi(Avi.Build());
    ASSERT_EQ(Clip.Frames.size(), 1u);
    EXPECT_EQ(Clip.Width, 3);
    EXPECT_EQ(Clip.Height, 2);
    EXPECT_EQ(Clip.MicroSecPerFrame, 50000u);
    EXPECT_EQ(Clip.Frames[0], (std::vector<uint32_t>{T, R, T, R, G, B}));

    Avi.Height = -2;
    Clip = ReadAvi(Avi.Build());
    EXPECT_EQ(Clip.Height, 2);
    EXPECT_EQ(Clip.Frames[0], (std::vector<uint32_t>{R, G, B, T, R, T}));
}

TEST(AviDecode, TwentyFourBitTakesTheTopLeftColourAsTransparent)
{
    TTestAvi Avi;
    Avi.Width = 2;
    Avi.Height = 2;
    Avi.BitCount = 24;
    Avi.Compression = 0;
    Avi.Palette.clear();
    Avi.FrameId = "00db";
    Avi.Frames = {{10, 20, 30, 40, 50, 60, 0, 0, 1, 2, 3, 10, 20, 30, 0, 0},
        {1, 2, 3, 1, 2, 3, 0, 0, 40, 50, 60, 1, 2, 3, 0, 0}};
    const TAviClip Clip = ReadAvi(Avi.Build());
    ASSERT_EQ(Clip.Frames.size(), 2u);
    EXPECT_EQ(Clip.Frames[0], (std::vector<uint32_t>{0x00030201, 0xFF1E140A, 0xFF1E140A, 0xFF3C3228}));
    EXPECT_EQ(Clip.Frames[1], (std::vector<uint32_t>{0xFF3C3228, 0x00030201, 0x00030201, 0x00030201}));
}

TEST(AviDecode, Rle8RunsLiteralsDeltasAndDroppedFramesBuildOnThePreviousFrame)
{
    TTestAvi Avi;
    Avi.InRecList = true;
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
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.BitCount = 16, A.Compression = 0; }).find("codec"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Width = 5000; }).find("size"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Height = INT32_MIN; }).find("size"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Height = -3; }).find("top-down"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.ColoursUsed = 300; }).find("palette"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.ColoursUsed = 0; }).find("palette"), std::string::npos);  // 0 means 256
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Frames.clear(); }).find("no frames"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.FrameId = "01dc"; }).find("no frames"), std::string::npos);
    EXPECT_NE(Spoilt([](TTestAvi& A) { A.Compression = 0, A.Frames = {TBytes(11, 1)}; }).find("too short"),
        std::string::npos);
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
    EXPECT_THROW(ReadAvi(nullptr, 0), EInvalidAvi);
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
        TAnimate Player;
        Player.SetFileName(std::string(ANIMATION_DIR) + "/" + Name + ".avi");
        EXPECT_TRUE(Player.IsOpen());
        EXPECT_GE(Player.FrameCount(), 34) << Name;
        EXPECT_EQ(Player.FrameWidth(), 32);
        EXPECT_EQ(Player.FrameHeight(), 32);
        EXPECT_EQ(Player.Interval(), 67);
        const QImage First = Player.FrameImage(0);
        EXPECT_EQ(qAlpha(First.pixel(0, 0)), 0) << "the background shows through";
        EXPECT_NE(First, Player.FrameImage(1)) << Name;
        DumpStrip(Player, Name);
    }
}

TEST_F(TAnimationFiles, GeneratorEncodesRle8AsItsUncompressedFrames)
{
    const std::string Command = std::string(MAKE_ANIMATIONS) + " --uncompressed " + Folder.string();
    ASSERT_EQ(std::system(Command.c_str()), 0);
    for (const char* Name : {"/MakeImage.avi", "/MakeDisk.avi"}) {
        const TAviClip Raw = ReadAviFile(Folder.string() + Name);
        const TAviClip Rle = ReadAviFile(ANIMATION_DIR + std::string(Name));
        ASSERT_EQ(Raw.Frames.size(), Rle.Frames.size());
        for (size_t I = 0; I < Raw.Frames.size(); ++I)
            EXPECT_EQ(Raw.Frames[I], Rle.Frames[I]) << Name << " frame " << I;
        EXPECT_LT(std::filesystem::file_size(ANIMATION_DIR + std::string(Name)),
            std::filesystem::file_size(Folder.string() + Name));
    }
}

TEST_F(TAnimationFiles, AFileThatCannotBeOpenedLeavesThePlayerClosed)
{
    TAnimate Player;
    Player.Open(WriteNumberedClip(2));
    for (const std::string& Path : {(Folder / "missing.avi").string(), Folder.string(), Write("bad.avi", TBytes(64, 7))}) {
        try {
            Player.SetFileName(Path);
            ADD_FAILURE() << Path << " was opened";
        } catch (const std::runtime_error& Error) {
            EXPECT_STREQ(Error.what(), "Cannot open AVI");
        }
        EXPECT_FALSE(Player.IsOpen());
        EXPECT_EQ(Player.FileName(), "");
        Player.SetActive(true);
        EXPECT_FALSE(Player.Active());
    }
}

TEST_F(TAnimationFiles, PlaysUpToStopFrameAndWraps)
{
    TAnimate Player;
    Player.SetFileName(WriteNumberedClip(6));
    EXPECT_EQ(Player.Interval(), 50);
    Player.SetStopFrame(3);
    Player.SetActive(true);
    std::vector<int> Seen{Player.CurrentFrame()};
    for (int I = 0; I < 9; ++I) {
        Player.NextFrame();
        Seen.push_back(Player.CurrentFrame());
    }
    EXPECT_EQ(Seen, (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1}));

    Player.Play(4, 99, 2);  // a stop frame past the end means the last frame
    Seen = {Player.CurrentFrame()};
    for (int I = 0; I < 5; ++I) {
        Player.NextFrame();
        Seen.push_back(Player.CurrentFrame());
    }
    EXPECT_EQ(Seen, (std::vector<int>{4, 5, 4, 5, 5, 5}));
    EXPECT_FALSE(Player.Active());
}

TEST_F(TAnimationFiles, TheTimerAdvancesFramesAtTheClipsRate)
{
    TAnimate Player;
    TTestAvi Avi;
    Avi.MicroSecPerFrame = 0;  // falls back to the stream's rate: 1/100 s
    Avi.Scale = 1;
    Avi.Rate = 100;
    Avi.Frames = {{4, 1, 0, 1}, {4, 2, 0, 1}, {4, 3, 0, 1}};
    Player.Open(Write("fast.avi", Avi.Build()));
    EXPECT_EQ(Player.Interval(), 10);
    Player.Play(0, 2, 1);  // one pass, then it stops by itself
    QElapsedTimer Clock;
    Clock.start();
    while (Player.Active() && Clock.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(Player.Active());
    EXPECT_EQ(Player.CurrentFrame(), 2);
    Clock.restart();
    while (Clock.elapsed() < 50)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(Player.CurrentFrame(), 2);
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
    Player.Open(Write("paint.avi", Avi.Build()));
    // The 4 x 3 frame sits at (4 + 16, 6 + 15).
    QImage Shot = Box.grab().toImage();
    EXPECT_EQ(Shot.pixel(20, 21), qRgb(255, 255, 255));
    EXPECT_EQ(Shot.pixel(22, 21), qRgb(0, 255, 0));
    EXPECT_EQ(Shot.pixel(21, 22), qRgb(0, 0, 255));
    EXPECT_EQ(Shot.pixel(23, 23), qRgb(255, 0, 0));
    EXPECT_EQ(Shot.pixel(19, 21), qRgb(255, 255, 255));
    EXPECT_EQ(Shot.pixel(24, 23), qRgb(255, 255, 255));

    Player.SetTransparent(false);
    Shot = Box.grab().toImage();
    EXPECT_EQ(Shot.pixel(20, 21), qRgb(0x12, 0x34, 0x56));
    EXPECT_EQ(Shot.pixel(22, 21), qRgb(0, 255, 0));
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
