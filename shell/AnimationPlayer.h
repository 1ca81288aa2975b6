// TAnimate: the animation player of the main window. It plays small silent AVI clips
// (uncompressed 8- or 24-bit frames or RLE8) from a file, in a loop, with a QTimer, so the shell
// needs no media framework. The clip is read and decoded completely when it is opened; a file it
// cannot play is refused then, with EInvalidAvi.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A file the player cannot play. what() is always "Cannot open AVI", the text the user sees;
// Detail() says what was wrong, for logs and tests.
class EInvalidAvi : public std::runtime_error {
public:
    explicit EInvalidAvi(std::string Detail);
    const std::string& Detail() const { return FDetail; }

private:
    std::string FDetail;
};

// Limits on what a clip may ask of memory: the side of a frame, and all frames' pixels together.
constexpr int32_t MaxAviFrameSide = 2048;
constexpr int64_t MaxAviTotalPixels = 16 * 1024 * 1024;
constexpr int64_t MaxAviFileSize = 64 * 1024 * 1024;

// A decoded clip. Each frame holds Width * Height pixels, top row first, as 0xAARRGGBB; alpha 0
// marks the pixels of the transparent colour (palette index 0 in paletted clips, the colour of
// the first frame's top-left pixel in 24-bit ones), all other pixels have alpha 255.
struct TAviClip {
    int32_t Width = 0;
    int32_t Height = 0;
    // From the main header; 0 when it gave none and the stream header no rate either.
    uint32_t MicroSecPerFrame = 0;
    std::vector<std::vector<uint32_t>> Frames;
};

// Parses and decodes an AVI file held in memory. Throws EInvalidAvi.
TAviClip ReadAvi(const uint8_t* Data, size_t Size);
inline TAviClip ReadAvi(const std::vector<uint8_t>& Data) { return ReadAvi(Data.data(), Data.size()); }
// Reads the file at Path and decodes it. Throws EInvalidAvi (also for a missing or unreadable file).
TAviClip ReadAviFile(const std::string& Path);

class TAnimate : public QWidget {
    Q_OBJECT

public:
    explicit TAnimate(QWidget* Parent = nullptr);

    // The open clip's file; "" when none is open. Setting it opens the file at once (throws
    // EInvalidAvi, leaving the player closed); setting "" closes the clip.
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Path);
    // Stops playing and replaces the clip with the file's. Throws EInvalidAvi; the player is then
    // closed.
    void Open(const std::string& Path);
    void Close();
    bool IsOpen() const { return !FClip.Frames.empty(); }

    // The frames played, both included, counted from 0. StopFrame -1 (the default) or one past
    // the clip's end means its last frame.
    int StartFrame() const { return FStartFrame; }
    void SetStartFrame(int Frame);
    int StopFrame() const { return FStopFrame; }
    void SetStopFrame(int Frame);
    // Passes through StartFrame..StopFrame before playing stops; 0 (the default) repeats endlessly.
    int Repetitions() const { return FRepetitions; }
    void SetRepetitions(int Count);

    // Playing. Setting it true shows StartFrame and plays from there, at the clip's frame rate;
    // false stops on the frame shown. A closed player never becomes active.
    bool Active() const { return FActive; }
    void SetActive(bool Value);
    // Sets the range and the repetitions, then plays.
    void Play(int FromFrame, int ToFrame, int Count);
    void Play() { SetActive(true); }
    void Stop() { SetActive(false); }
    // Stops and shows Frame (clamped to the clip).
    void Seek(int Frame);
    // Stops and shows StartFrame.
    void Reset();
    // One tick of the timer while active: the next frame of the range, back to StartFrame after
    // StopFrame (or stops when the repetitions are done). Does nothing when inactive.
    void NextFrame();

    // The transparent colour lets the parent show through. On by default.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

    int FrameCount() const { return static_cast<int>(FClip.Frames.size()); }
    int FrameWidth() const { return FClip.Width; }
    int FrameHeight() const { return FClip.Height; }
    int CurrentFrame() const { return FCurrentFrame; }
    // Milliseconds between frames of the open clip.
    int Interval() const { return FTimer.interval(); }
    // The frame as painted (transparent pixels with alpha 0 when Transparent); null when closed.
    QImage FrameImage(int Frame) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    int LastFrame() const;

    std::string FFileName;
    TAviClip FClip;
    int FStartFrame = 0;
    int FStopFrame = -1;
    int FRepetitions = 0;
    int FPassesLeft = 0;
    int FCurrentFrame = 0;
    bool FActive = false;
    bool FTransparent = true;
    QTimer FTimer;
};
