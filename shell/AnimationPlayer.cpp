#include "shell/AnimationPlayer.h"

#include <QPainter>

#include <algorithm>

TAnimate::TAnimate(QWidget* Parent) : QWidget(Parent)
{
    connect(&FTimer, &QTimer::timeout, this, &TAnimate::NextFrame);
}

void TAnimate::SetFileName(const std::string& Path)
{
    SetActive(false);
    FFrames.clear();
    FCurrentFrame = 0;
    update();
    if (Path.empty())
        return;
    const TAviClip Clip = ReadAviFile(Path);
    for (const std::vector<uint32_t>& Pixels : Clip.Frames)
        FFrames.push_back(QImage(reinterpret_cast<const uchar*>(Pixels.data()), Clip.Width, Clip.Height,
                                 Clip.Width * 4, QImage::Format_ARGB32)
                              .copy());
    FTimer.setInterval(Clip.FramePeriodMs);
    updateGeometry();
}

void TAnimate::SetStopFrame(int Frame)
{
    FStopFrame = std::max(-1, Frame);
}

void TAnimate::SetActive(bool Value)
{
    if (!Value) {
        FTimer.stop();
        return;
    }
    if (FTimer.isActive() || FFrames.empty())
        return;
    FCurrentFrame = 0;
    FTimer.start();
    update();
}

void TAnimate::NextFrame()
{
    const int Count = static_cast<int>(FFrames.size());
    const int Last = FStopFrame < 0 || FStopFrame >= Count ? Count - 1 : FStopFrame;
    FCurrentFrame = FCurrentFrame >= Last ? 0 : FCurrentFrame + 1;
    update();
}

QSize TAnimate::sizeHint() const
{
    return FFrames.empty() ? QSize(32, 32) : FFrames.front().size();
}

void TAnimate::paintEvent(QPaintEvent*)
{
    if (FFrames.empty())
        return;
    const QImage& Frame = FFrames[static_cast<size_t>(FCurrentFrame)];
    QPainter Painter(this);
    Painter.drawImage(QPoint((width() - Frame.width()) / 2, (height() - Frame.height()) / 2), Frame);
}
