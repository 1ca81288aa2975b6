// The picture formats table, the JPEG codec on good and bad data, and the pictures the windows
// embed.
#include <gtest/gtest.h>

#include "shell/Diskette.h"
#include "shell/Pictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// The message an action throws as E, or "" when it throws nothing.
template <class E>
std::string ThrownText(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const E& Error) {
        return Error.what();
    }
    return "";
}

std::string DecodeError(const std::vector<uint8_t>& Bytes)
{
    return ThrownText<EInvalidGraphic>([&] { DecodeJpeg(Bytes.data(), Bytes.size()); });
}

// A colour picture with smooth gradients, which JPEG keeps close.
QImage Gradient(int Width, int Height)
{
    QImage Image(Width, Height, QImage::Format_RGB888);
    for (int Y = 0; Y < Height; ++Y)
        for (int X = 0; X < Width; ++X)
            Image.setPixelColor(X, Y, QColor(X * 255 / std::max(1, Width - 1), Y * 255 / std::max(1, Height - 1),
                                             (X + Y) * 255 / std::max(1, Width + Height - 2)));
    return Image;
}

int LargestDifference(const QImage& A, const QImage& B)
{
    int Largest = 0;
    for (int Y = 0; Y < A.height(); ++Y)
        for (int X = 0; X < A.width(); ++X) {
            const QRgb P = A.pixel(X, Y), Q = B.pixel(X, Y);
            Largest = std::max(Largest, std::abs(qRed(P) - qRed(Q)));
            Largest = std::max(Largest, std::abs(qGreen(P) - qGreen(Q)));
            Largest = std::max(Largest, std::abs(qBlue(P) - qBlue(Q)));
        }
    return Largest;
}

double MeanLightness(const QImage& Image, const QRect& Area)
{
    double Sum = 0;
    for (int Y = Area.top(); Y <= Area.bottom(); ++Y)
        for (int X = Area.left(); X <= Area.right(); ++X)
            Sum += Image.pixelColor(X, Y).lightness();
    return Sum / (Area.width() * Area.height());
}

// The offset of the first frame header (SOF0..SOF2) of a JPEG we made.
size_t FrameHeader(const std::vector<uint8_t>& Jpeg)
{
    for (size_t I = 2; I + 9 < Jpeg.size(); ++I)
        if (Jpeg[I] == 0xFF && Jpeg[I + 1] >= 0xC0 && Jpeg[I + 1] <= 0xC2)
            return I;
    return 0;
}

// The offset of the start-of-scan marker, after which the pixel data follows.
size_t ScanStart(const std::vector<uint8_t>& Jpeg)
{
    for (size_t I = 2; I + 1 < Jpeg.size(); ++I)
        if (Jpeg[I] == 0xFF && Jpeg[I + 1] == 0xDA)
            return I;
    return 0;
}

std::vector<uint8_t> WithSize(std::vector<uint8_t> Jpeg, unsigned Width, unsigned Height)
{
    const size_t Sof = FrameHeader(Jpeg);
    Jpeg[Sof + 5] = uint8_t(Height >> 8);
    Jpeg[Sof + 6] = uint8_t(Height);
    Jpeg[Sof + 7] = uint8_t(Width >> 8);
    Jpeg[Sof + 8] = uint8_t(Width);
    return Jpeg;
}

void WriteFile(const QString& Path, const QByteArray& Bytes)
{
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write(Bytes);
}

QByteArray AsBytes(const std::vector<uint8_t>& Data)
{
    return QByteArray(reinterpret_cast<const char*>(Data.data()), qsizetype(Data.size()));
}

} // namespace

TEST(PictureFormats, JpegIsRegisteredUnderBothExtensionsWithoutRegardToCase)
{
    const std::vector<TPictureFormat>& Formats = PictureFormats();
    ASSERT_EQ(Formats.size(), 2u);
    EXPECT_EQ(Formats[0].Extension, "jpeg");
    EXPECT_EQ(Formats[1].Extension, "jpg");
    for (const TPictureFormat& Format : Formats) {
        EXPECT_EQ(Format.Description, "JPEG Image File");
        EXPECT_EQ(Format.Decoder, &DecodeJpeg);
    }
    for (const char* Name : {"jpg", "JPG", "Jpeg", "JPEG", ".jpg", ".JpG"}) {
        const TPictureFormat* Found = FindPictureFormat(Name);
        ASSERT_NE(Found, nullptr) << Name;
        EXPECT_EQ(Found->Description, "JPEG Image File");
    }
    for (const char* Name : {"", ".", "jp", "jpgx", "png", "bmp", "..jpg"})
        EXPECT_EQ(FindPictureFormat(Name), nullptr) << Name;
}

TEST(DecodeJpeg, ColourAndGreyPicturesComeBackCloseToWhatWasEncoded)
{
    // Sizes that are and are not whole blocks, and a single pixel.
    for (QSize Size : {QSize(64, 48), QSize(17, 9), QSize(1, 1)}) {
        const QImage Original = Gradient(Size.width(), Size.height());
        const QImage Decoded = [&] {
            const std::vector<uint8_t> Jpeg = EncodeJpeg(Original, 95);
            return DecodeJpeg(Jpeg.data(), Jpeg.size());
        }();
        ASSERT_EQ(Decoded.size(), Size);
        EXPECT_EQ(Decoded.format(), QImage::Format_RGB888);
        EXPECT_LE(LargestDifference(Original, Decoded), 24) << Size.width() << "x" << Size.height();
    }

    const QImage Grey = Gradient(40, 30).convertToFormat(QImage::Format_Grayscale8);
    const std::vector<uint8_t> Jpeg = EncodeJpeg(Grey, 95);
    const QImage Decoded = DecodeJpeg(Jpeg.data(), Jpeg.size());
    ASSERT_EQ(Decoded.size(), Grey.size());
    EXPECT_EQ(Decoded.format(), QImage::Format_Grayscale8);
    EXPECT_LE(LargestDifference(Grey, Decoded), 8);
}

TEST(DecodeJpeg, PicturesFromOtherEncodersDecodeToo)
{
    QByteArray Saved;
    QBuffer Buffer(&Saved);
    Buffer.open(QIODevice::WriteOnly);
    const QImage Original = Gradient(50, 20);
    if (!Original.save(&Buffer, "JPEG", 95))
        GTEST_SKIP() << "no JPEG writer in this Qt";
    const QImage Decoded = DecodeJpeg(reinterpret_cast<const uint8_t*>(Saved.constData()), size_t(Saved.size()));
    ASSERT_EQ(Decoded.size(), Original.size());
    EXPECT_LE(LargestDifference(Original, Decoded), 24);
}

TEST(DecodeJpeg, DamagedDataThrowsAClearErrorInsteadOfExiting)
{
    const std::vector<uint8_t> Good = EncodeJpeg(Gradient(64, 64), 90);

    EXPECT_EQ(ThrownText<EInvalidGraphic>([] { DecodeJpeg(nullptr, 0); }), "JPEG error: Empty input file");
    EXPECT_EQ(DecodeError({}), "JPEG error: Empty input file");

    const std::string Garbage = DecodeError({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    EXPECT_EQ(Garbage, "JPEG error: Not a JPEG file: starts with 0x68 0x65");

    // Cut in the pixel data: libjpeg alone would pad with grey and call it a picture.
    const size_t Scan = ScanStart(Good);
    ASSERT_NE(Scan, 0u);
    const std::vector<uint8_t> Half(Good.begin(), Good.begin() + long(Scan + (Good.size() - Scan) / 2));
    EXPECT_EQ(DecodeError(Half), "JPEG error: Premature end of JPEG file");

    // Cut inside the headers, and just after the start marker.
    const std::vector<uint8_t> Header(Good.begin(), Good.begin() + 40);
    EXPECT_EQ(DecodeError(Header).rfind("JPEG error: ", 0), 0u);
    EXPECT_EQ(DecodeError({0xFF, 0xD8}).rfind("JPEG error: ", 0), 0u);

    // A frame header that claims no pixels.
    EXPECT_EQ(DecodeError(WithSize(Good, 0, 64)).rfind("JPEG error: ", 0), 0u);
}

TEST(DecodeJpeg, AbsurdSizesAreRefusedBeforeMemoryIsTaken)
{
    const std::vector<uint8_t> Good = EncodeJpeg(Gradient(16, 16), 90);
    ASSERT_NE(FrameHeader(Good), 0u);
    EXPECT_EQ(DecodeError(WithSize(Good, 65000, 65000)), "JPEG error: picture too large (65000 x 65000)");
    // Each side allowed, the whole not.
    EXPECT_EQ(DecodeError(WithSize(Good, 6000, 6000)), "JPEG error: picture too large (6000 x 6000)");
}

TEST(LoadPicture, EmbeddedPicturesHaveTheirSizesAndCalmPlacesForTheLabels)
{
    const QImage Splash = LoadPicture(":/pictures/Splash.jpg");
    ASSERT_EQ(Splash.size(), QSize(299, 200));
    const QImage About = LoadPicture(":/pictures/About.jpg");
    ASSERT_EQ(About.size(), QSize(283, 117));

    // The orange name and the aqua version are drawn over these areas: they stay dark.
    EXPECT_LT(MeanLightness(Splash, QRect(26, 20, 170, 32)), 60);
    EXPECT_LT(MeanLightness(Splash, QRect(202, 34, 80, 20)), 60);
    EXPECT_LT(MeanLightness(About, QRect(128, 64, 150, 28)), 60);
    // The rest is not one flat colour.
    EXPECT_GT(MeanLightness(Splash, QRect(160, 80, 90, 90)), 80);

    // The drive box's diskette is painted at the screen's pixel ratio, never scaled up.
    for (const int Ratio : {1, 2}) {
        const QImage Floppy = PaintFloppy(Ratio);
        ASSERT_EQ(Floppy.size(), QSize(32, 32) * Ratio);
        EXPECT_EQ(Floppy.devicePixelRatio(), Ratio);
        EXPECT_EQ(Floppy.pixelColor(0, 0).alpha(), 0);
        EXPECT_EQ(Floppy.pixelColor(QPoint(16, 20) * Ratio).alpha(), 255);
        // The case's left edge is one sharp step, not a blur across scaled-up pixels.
        EXPECT_EQ(Floppy.pixelColor(2 * Ratio - 1, 20 * Ratio).alpha(), 0);
        EXPECT_EQ(Floppy.pixelColor(2 * Ratio, 20 * Ratio).alpha(), 255);
    }

    const QImage Icon(":/pictures/Marrowtide.png");
    EXPECT_TRUE(Icon.size() == QSize(64, 64) || Icon.size() == QSize(48, 48));
    EXPECT_TRUE(Icon.hasAlphaChannel());
}

TEST(LoadPicture, PicksTheDecoderByExtensionAndReportsBadFilesClearly)
{
    QTemporaryDir Folder;
    ASSERT_TRUE(Folder.isValid());
    const QImage Original = Gradient(30, 20);
    const QByteArray Jpeg = AsBytes(EncodeJpeg(Original, 95));

    const QString Upper = Folder.filePath("Picture.JPG");
    WriteFile(Upper, Jpeg);
    const QImage Loaded = LoadPicture(Upper);
    ASSERT_EQ(Loaded.size(), Original.size());
    EXPECT_LE(LargestDifference(Original, Loaded), 24);

    // JPEG bytes under a name of no known format are not guessed at.
    const QString Other = Folder.filePath("Picture.xyz");
    WriteFile(Other, Jpeg);
    EXPECT_EQ(ThrownText<EInvalidGraphic>([&] { LoadPicture(Other); }), "Unknown picture file extension (.xyz)");
    EXPECT_EQ(ThrownText<EInvalidGraphic>([&] { LoadPicture(Folder.filePath("NoExtension")); }),
              "Unknown picture file extension (.)");

    // A PNG named .jpg.
    QByteArray Png;
    QBuffer Buffer(&Png);
    Buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(Original.save(&Buffer, "PNG"));
    const QString Disguised = Folder.filePath("Disguised.jpg");
    WriteFile(Disguised, Png);
    EXPECT_EQ(ThrownText<EInvalidGraphic>([&] { LoadPicture(Disguised); }),
              "JPEG error: Not a JPEG file: starts with 0x89 0x50");

    const QString Empty = Folder.filePath("Empty.jpeg");
    WriteFile(Empty, {});
    EXPECT_EQ(ThrownText<EInvalidGraphic>([&] { LoadPicture(Empty); }), "JPEG error: Empty input file");

    const QString Missing = Folder.filePath("Missing.jpg");
    EXPECT_EQ(ThrownText<EPictureFileError>([&] { LoadPicture(Missing); })
                  .rfind("Cannot open picture file " + Missing.toStdString() + ": ", 0),
              0u);
    EXPECT_NE(ThrownText<EPictureFileError>([&] { LoadPicture(":/pictures/Missing.jpg"); }), "");

    ASSERT_TRUE(QDir(Folder.path()).mkdir("Folder.jpg"));
    EXPECT_NE(ThrownText<EPictureFileError>([&] { LoadPicture(Folder.filePath("Folder.jpg")); }), "");
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && Runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
    QGuiApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
