// TAnimate: the animation player of the main window. It shows a clip (shell/AviClip.h) in a
// loop with a QTimer, so the shell needs no media framework. Palette colour 0 lets the parent
// show through.
#pragma once

#include "shell/AviClip.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

class TAnimate : public QWidget {
    Q_OBJECT

public:
    explicit TAnimate(QWidget* Parent = nullptr);

    // Stops and replaces the clip with the file's; "" closes it. Throws EInvalidAvi, leaving the
    // player closed.
    void SetFileName(const std::string& Path);
    // The last frame played, counted from 0; -1 (the default) or one past the clip's end means
    // the clip's last frame.
    void SetStopFrame(int Frame);
    // true shows the first frame and plays from there at the clip's rate, back to the first
    // after the stop frame; false stops on the frame shown. A closed player does not play.
    void SetActive(bool Value);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    void NextFrame();

    std::vector<QImage> FFrames;
    int FStopFrame = -1;
    int FCurrentFrame = 0;
    QTimer FTimer;
};
