// The program's diskette, drawn rather than stored: the pictures and icons are painted from it,
// and the main window's drive box paints its small one at the screen's pixel ratio, so it stays
// sharp on a scaled screen.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>

QColor WithAlpha(QColor Colour, int Alpha);

struct TDisketteLook {
    QColor BodyLight;
    QColor BodyDark;
    QColor Edge;
    QColor Stripe;       // the coloured band at the top of the label
    QColor LabelMark;    // the wave drawn on the label
    bool Detail = true;  // holes and the shutter's groove: too fine for small icons
};

// Blue case, orange stripe, teal wave: the program's colours.
const TDisketteLook& DisketteCaseLook();

// The diskette's outline in the square R: a 3.5" case with its chamfered top-right corner.
QPainterPath DisketteOutline(const QRectF& R);

// A gentle wave across Width from Left, around Middle; filled down to Bottom.
QPainterPath WaveBand(double Left, double Width, double Middle, double Amplitude, double Length, double Phase,
                      double Bottom);

// A 3.5" diskette seen from its label side, filling the square R.
void PaintDiskette(QPainter& P, const QRectF& R, const TDisketteLook& Look);

// The 32 by 32 diskette of the drive box on a transparent ground, with Ratio device pixels to
// each of its pixels (the image carries that ratio).
QImage PaintFloppy(qreal Ratio = 1);
