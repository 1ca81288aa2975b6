#include "shell/Diskette.h"

#include <QLinearGradient>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <numbers>

QColor WithAlpha(QColor Colour, int Alpha)
{
    Colour.setAlpha(Alpha);
    return Colour;
}

QPainterPath DisketteOutline(const QRectF& R)
{
    const double X = R.left(), Y = R.top(), W = R.width(), H = R.height();
    const double Cut = W * 0.1, Round = W * 0.04;
    QPainterPath Path;
    Path.moveTo(X + Round, Y);
    Path.lineTo(X + W - Cut, Y);
    Path.lineTo(X + W, Y + Cut);
    Path.lineTo(X + W, Y + H - Round);
    Path.quadTo(X + W, Y + H, X + W - Round, Y + H);
    Path.lineTo(X + Round, Y + H);
    Path.quadTo(X, Y + H, X, Y + H - Round);
    Path.lineTo(X, Y + Round);
    Path.quadTo(X, Y, X + Round, Y);
    Path.closeSubpath();
    return Path;
}

QPainterPath WaveBand(double Left, double Width, double Middle, double Amplitude, double Length, double Phase,
                      double Bottom)
{
    QPainterPath Path;
    Path.moveTo(Left, Bottom);
    for (double X = 0; X <= Width; X += 1)
        Path.lineTo(Left + X, Middle + Amplitude * std::sin(2 * std::numbers::pi * X / Length + Phase));
    Path.lineTo(Left + Width, Bottom);
    Path.closeSubpath();
    return Path;
}

// A 3.5" diskette seen from its label side, filling the square R: the metal shutter with its
// window at the top, the label below.
void PaintDiskette(QPainter& P, const QRectF& R, const TDisketteLook& Look)
{
    const double X = R.left(), Y = R.top(), W = R.width(), H = R.height();
    const QPainterPath Outline = DisketteOutline(R);

    QLinearGradient Shade(R.topLeft(), R.bottomRight());
    Shade.setColorAt(0, Look.BodyLight);
    Shade.setColorAt(1, Look.BodyDark);
    P.setPen(QPen(Look.Edge, std::max(1.0, W / 80)));
    P.setBrush(Shade);
    P.drawPath(Outline);

    // Everything inside stays within the outline by its own geometry rather than a clip: the
    // scalable icon's writer cannot clip.
    P.save();
    P.setPen(Qt::NoPen);
    if (Look.Detail) {
        // The groove the shutter slides in.
        P.setBrush(WithAlpha(Look.BodyDark.darker(140), 150));
        P.drawRect(QRectF(X + W * 0.14, Y, W * 0.72, H * 0.38));
    }
    // The shutter: brushed metal, lit from the left, open at the case's top edge.
    const QRectF Shutter(X + W * 0.24, Y, W * 0.52, H * 0.37);
    QLinearGradient Metal(Shutter.topLeft(), Shutter.topRight());
    Metal.setColorAt(0, QColor(176, 186, 200));
    Metal.setColorAt(0.35, QColor(238, 242, 247));
    Metal.setColorAt(0.7, QColor(200, 208, 218));
    Metal.setColorAt(1, QColor(150, 160, 176));
    P.setBrush(Metal);
    P.drawRect(Shutter);
    QPainterPath ShutterEdge(Shutter.topLeft());
    ShutterEdge.lineTo(Shutter.bottomLeft());
    ShutterEdge.lineTo(Shutter.bottomRight());
    ShutterEdge.lineTo(Shutter.topRight());
    P.setPen(QPen(QColor(90, 100, 116), std::max(0.8, W / 110), Qt::SolidLine, Qt::FlatCap));
    P.setBrush(Qt::NoBrush);
    P.drawPath(ShutterEdge);
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(22, 28, 40));
    P.drawRoundedRect(QRectF(X + W * 0.53, Y + H * 0.06, W * 0.13, H * 0.25), W * 0.015, W * 0.015);

    // The label: paper with a coloured band and a wave, the program's mark.
    // Its rounded foot is covered below, so it ends square on the case's bottom edge.
    const QRectF Label(X + W * 0.1, Y + H * 0.46, W * 0.8, H * 0.54);
    P.setBrush(QColor(250, 248, 240));
    P.drawRoundedRect(Label, W * 0.04, W * 0.04);
    P.setBrush(Look.Stripe);
    P.drawRect(QRectF(Label.left(), Label.top() + W * 0.03, Label.width(), H * 0.08));
    P.setBrush(QColor(250, 248, 240));
    P.drawRect(QRectF(Label.left(), Label.top() + W * 0.03 + H * 0.08, Label.width(), W * 0.01));
    P.setBrush(Look.LabelMark);
    P.drawPath(WaveBand(Label.left(), Label.width(), Y + H * 0.8, H * 0.035, Label.width() * 0.5, 0.6, Y + H * 0.87));
    P.setBrush(WithAlpha(Look.LabelMark, 110));
    P.drawPath(WaveBand(Label.left(), Label.width(), Y + H * 0.76, H * 0.03, Label.width() * 0.42, 2.2, Y + H * 0.87));
    P.setBrush(QColor(250, 248, 240));
    P.drawRect(QRectF(Label.left(), Y + H * 0.87, Label.width(), H * 0.13));

    if (Look.Detail) {
        // Write-protect and density holes at the bottom corners.
        P.setBrush(QColor(14, 18, 28));
        P.drawRect(QRectF(X + W * 0.025, Y + H * 0.885, W * 0.055, W * 0.055));
        P.drawRect(QRectF(X + W * 0.92, Y + H * 0.885, W * 0.055, W * 0.055));
    }
    // A sheen across the upper left of the case.
    QLinearGradient Sheen(R.topLeft(), QPointF(X + W * 0.6, Y + H * 0.6));
    Sheen.setColorAt(0, QColor(255, 255, 255, 60));
    Sheen.setColorAt(1, QColor(255, 255, 255, 0));
    P.setBrush(Sheen);
    P.drawPath(Outline);
    P.restore();
}

const TDisketteLook& DisketteCaseLook()
{
    static const TDisketteLook Look{QColor(58, 112, 196), QColor(18, 44, 104),  QColor(8, 20, 52),
                                    QColor(255, 128, 0),  QColor(16, 122, 132), true};
    return Look;
}

// The icon shown in the main window's drive box, on white: a diskette on a transparent ground.
QImage PaintFloppy(qreal Ratio)
{
    const int Side = qCeil(32 * Ratio);
    QImage Image(Side, Side, QImage::Format_ARGB32_Premultiplied);
    Image.setDevicePixelRatio(Ratio);
    Image.fill(Qt::transparent);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);
    TDisketteLook Look = DisketteCaseLook();
    Look.Detail = Ratio >= 2;                          // the holes and the groove need the pixels
    PaintDiskette(P, QRectF(2.5, 2.5, 27, 27), Look);  // edges on pixel centres: crisp
    return Image;
}
