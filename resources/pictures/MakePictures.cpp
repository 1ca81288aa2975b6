// Paints the program's pictures and writes them into the folder given (default: the current one):
//   marrowtide-make-pictures resources/pictures
// Splash.jpg and About.jpg go through our own JPEG encoder. The drive box's diskette is painted
// by the window itself, at the screen's pixel ratio (shell/Diskette.h).
// With --icons it writes the program's icon as an icon theme's folders instead (PNGs and SVG);
// the build does that, and the window takes its icon from there. Everything is drawn from fixed
// numbers, so a run gives the same files again.
// No text is painted: the windows draw their labels over the pictures, so the places where the
// labels sit are kept dark and calm.
#include "shell/Diskette.h"
#include "shell/Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgGenerator>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>

namespace {

const QColor Night(6, 14, 40);
const QColor Navy(12, 32, 78);
const QColor DeepTeal(10, 78, 96);
const QColor Teal(16, 122, 132);
const QColor Aqua(72, 214, 208);

// A soft shadow under a shape: the outline drawn a few times, growing, at low opacity.
void PaintShadow(QPainter& P, const QRectF& R, QPointF Offset)
{
    P.save();
    P.setPen(Qt::NoPen);
    for (int Step = 6; Step >= 0; --Step) {
        P.setBrush(QColor(0, 0, 0, 18));
        P.drawPath(DisketteOutline(R.translated(Offset).adjusted(-Step, -Step, Step, Step)));
    }
    P.restore();
}

// Light behind the diskette: a soft glow and faint circles like a diskette's tracks, centred on
// Centre. Both fade out between CalmTop and CalmBottom, so the area above stays plain.
void PaintBackLight(QPainter& P, QSize Size, QPointF Centre, double GlowRadius, double From,
                    double To, double Step, double CalmTop, double CalmBottom)
{
    QImage Layer(Size, QImage::Format_ARGB32_Premultiplied);
    Layer.fill(Qt::transparent);
    {
        QPainter L(&Layer);
        L.setRenderHint(QPainter::Antialiasing);
        QRadialGradient Glow(Centre, GlowRadius);
        Glow.setColorAt(0, WithAlpha(Aqua, 100));
        Glow.setColorAt(0.5, WithAlpha(Aqua, 30));
        Glow.setColorAt(1, WithAlpha(Aqua, 0));
        L.fillRect(Layer.rect(), Glow);
        L.setBrush(Qt::NoBrush);
        for (double Radius = From; Radius <= To; Radius += Step) {
            const int Alpha = int(70 * (1 - (Radius - From) / (To - From))) + 12;
            L.setPen(QPen(WithAlpha(Aqua, Alpha), 0.8));
            L.drawEllipse(Centre, Radius, Radius);
        }
        QLinearGradient Fade(0, CalmTop, 0, CalmBottom);
        Fade.setColorAt(0, QColor(0, 0, 0, 0));
        Fade.setColorAt(1, QColor(0, 0, 0, 255));
        L.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        L.fillRect(Layer.rect(), Fade);
    }
    P.drawImage(0, 0, Layer);
}

// Small four-pointed glints.
void PaintGlint(QPainter& P, QPointF At, double Size, int Alpha)
{
    QPainterPath Star;
    Star.moveTo(At.x(), At.y() - Size);
    Star.quadTo(At, QPointF(At.x() + Size, At.y()));
    Star.quadTo(At, QPointF(At.x(), At.y() + Size));
    Star.quadTo(At, QPointF(At.x() - Size, At.y()));
    Star.quadTo(At, QPointF(At.x(), At.y() - Size));
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(220, 255, 252, Alpha));
    P.drawPath(Star);
}

// The tide along the bottom: three wave bands, the nearest the lightest.
void PaintTide(QPainter& P, double Width, double Top, double Bottom, double Scale)
{
    P.setPen(Qt::NoPen);
    P.setBrush(WithAlpha(Teal, 120));
    P.drawPath(WaveBand(0, Width, Top, 3 * Scale, 90 * Scale, 0.3, Bottom));
    P.setBrush(WithAlpha(Aqua, 70));
    P.drawPath(WaveBand(0, Width, Top + 8 * Scale, 3.5 * Scale, 70 * Scale, 2.0, Bottom));
    P.setBrush(WithAlpha(Aqua, 110));
    P.setPen(QPen(QColor(190, 250, 245, 150), 1));
    P.drawPath(WaveBand(0, Width, Top + 17 * Scale, 3 * Scale, 110 * Scale, 4.1, Bottom + 2));
}

QImage PaintSplash()
{
    QImage Image(299, 200, QImage::Format_RGB32);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);

    // Night at the top, where the program's name and version are drawn, teal toward the bottom.
    QLinearGradient Sky(0, 0, 70, 200);
    Sky.setColorAt(0, Night);
    Sky.setColorAt(0.42, Navy);
    Sky.setColorAt(0.8, DeepTeal);
    Sky.setColorAt(1, Teal);
    P.fillRect(Image.rect(), Sky);

    const QPointF Centre(206, 124);
    PaintBackLight(P, Image.size(), Centre, 115, 58, 190, 8, 58, 96);

    PaintTide(P, 299, 166, 200, 1.0);

    const double Side = 92;
    const QRectF Case(-Side / 2, -Side / 2, Side, Side);
    P.save();
    P.translate(Centre);
    P.rotate(-12);
    PaintShadow(P, Case, QPointF(5, 7));
    PaintDiskette(P, Case, DisketteCaseLook());
    P.restore();

    // The nearest wave washes over the diskette's foot.
    P.setPen(QPen(QColor(200, 252, 248, 170), 1));
    P.setBrush(WithAlpha(Aqua, 95));
    P.drawPath(WaveBand(0, 299, 186, 3, 120, 1.2, 202));

    PaintGlint(P, QPointF(262, 76), 7, 230);
    PaintGlint(P, QPointF(150, 86), 4, 170);
    PaintGlint(P, QPointF(272, 150), 3.5, 150);
    return Image;
}

QImage PaintAbout()
{
    QImage Image(283, 117, QImage::Format_RGB32);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);

    // Teal light behind the diskette on the left, night on the right under the name.
    QLinearGradient Sky(0, 117, 283, 0);
    Sky.setColorAt(0, DeepTeal);
    Sky.setColorAt(0.45, Navy);
    Sky.setColorAt(1, Night);
    P.fillRect(Image.rect(), Sky);

    // No calm band: the name sits to the right, beyond the glow.
    const QPointF Centre(62, 56);
    PaintBackLight(P, Image.size(), Centre, 80, 48, 120, 7, -40, 0);

    PaintTide(P, 283, 95, 117, 0.65);

    const double Side = 74;
    const QRectF Case(-Side / 2, -Side / 2, Side, Side);
    P.save();
    P.translate(Centre);
    P.rotate(-10);
    PaintShadow(P, Case, QPointF(4, 5));
    PaintDiskette(P, Case, DisketteCaseLook());
    P.restore();

    P.setPen(QPen(QColor(200, 252, 248, 160), 1));
    P.setBrush(WithAlpha(Aqua, 90));
    P.drawPath(WaveBand(0, 283, 106, 2.2, 90, 1.2, 119));

    PaintGlint(P, QPointF(106, 20), 5, 220);
    PaintGlint(P, QPointF(20, 92), 3, 150);
    return Image;
}

// The program's icon, the window's and the desktop's: the diskette riding a wave, drawn on a
// 64 by 64 canvas. Below 32 pixels the holes and the groove would only blur.
constexpr int IconCanvas = 64;

void PaintIcon(QPainter& P, bool Detail)
{
    P.setRenderHint(QPainter::Antialiasing);
    TDisketteLook Look = DisketteCaseLook();
    Look.Detail = Detail;
    PaintDiskette(P, QRectF(5, 3, 54, 54), Look);
    const QPainterPath Wave = WaveBand(1, 62, 55, 2.5, 31, 0.0, 62);
    QLinearGradient Water(0, 52, 0, 62);
    Water.setColorAt(0, Aqua);
    Water.setColorAt(1, Teal);
    P.setPen(QPen(QColor(6, 58, 68), 1.2));
    P.setBrush(Water);
    P.drawPath(Wave);
}

QImage PaintIconImage(int Size)
{
    QImage Image(Size, Size, QImage::Format_ARGB32);
    Image.fill(Qt::transparent);
    QPainter P(&Image);
    P.scale(double(Size) / IconCanvas, double(Size) / IconCanvas);
    PaintIcon(P, Size >= 32);
    return Image;
}

bool WriteSvgIcon(const QString& Path)
{
    QSvgGenerator Svg;
    Svg.setFileName(Path);
    Svg.setSize(QSize(IconCanvas, IconCanvas));
    Svg.setViewBox(QRect(0, 0, IconCanvas, IconCanvas));
    Svg.setTitle("Marrowtide");
    QPainter P;
    if (!P.begin(&Svg))
        return false;
    PaintIcon(P, true);
    return P.end();
}

// The desktop's icon theme: Folder/<size>x<size>/apps/marrowtide.png and
// Folder/scalable/apps/marrowtide.svg.
bool WriteThemeIcons(const QDir& Folder)
{
    bool Ok = true;
    for (const int Size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString Apps = QString("%1x%1/apps").arg(Size);
        Ok = Folder.mkpath(Apps)
             && PaintIconImage(Size).save(Folder.filePath(Apps + "/marrowtide.png"), "PNG") && Ok;
    }
    return Folder.mkpath("scalable/apps")
           && WriteSvgIcon(Folder.filePath("scalable/apps/marrowtide.svg")) && Ok;
}

bool WriteJpeg(const QImage& Image, const QString& Path)
{
    const std::vector<uint8_t> Bytes = EncodeJpeg(Image, 90);
    std::ofstream Out(Path.toStdString(), std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    return bool(Out);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    const bool Icons = argc > 1 && std::strcmp(argv[1], "--icons") == 0;
    const int FolderArg = Icons ? 2 : 1;
    const QDir Folder(argc > FolderArg ? QString::fromLocal8Bit(argv[FolderArg])
                                       : QDir::currentPath());
    if (!Folder.exists()) {
        std::fprintf(stderr, "No such folder: %s\n", qPrintable(Folder.path()));
        return 1;
    }
    try {
        bool Ok = true;
        if (Icons) {
            Ok = WriteThemeIcons(Folder);
        } else {
            Ok = WriteJpeg(PaintSplash(), Folder.filePath("Splash.jpg"));
            Ok = WriteJpeg(PaintAbout(), Folder.filePath("About.jpg")) && Ok;
        }
        if (!Ok) {
            std::fprintf(stderr, "Could not write the pictures into %s\n",
                         qPrintable(Folder.path()));
            return 1;
        }
    } catch (const std::exception& Error) {
        std::fprintf(stderr, "%s\n", Error.what());
        return 1;
    }
    return 0;
}
