// The window's AVI clip reader on arbitrary file contents. Refusals are EInvalidAvi; a clip it
// accepts must hold frames of the size it announces, within the reader's limits, at a frame
// period the player's timer can use.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "shell/AviClip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    // Exactly the bytes given, so that a read past them is seen.
    const std::vector<uint8_t> File(Data, Data + Size);
    TAviClip Clip;
    try {
        Clip = ReadAvi(File);
    } catch (const EInvalidAvi&) {
        return 0;
    }
    if (Clip.Width < 1 || Clip.Width > MaxAviFrameSide || Clip.Height < 1
        || Clip.Height > MaxAviFrameSide || Clip.Frames.empty() || Clip.FramePeriodMs < 10
        || Clip.FramePeriodMs > 5000) {
        std::fprintf(stderr, "accepted a clip of %d x %d, %zu frames, %d ms apart\n", Clip.Width,
                     Clip.Height, Clip.Frames.size(), Clip.FramePeriodMs);
        std::abort();
    }
    const size_t Pixels = size_t(Clip.Width) * size_t(Clip.Height);
    if (int64_t(Pixels * Clip.Frames.size()) > MaxAviTotalPixels) {
        std::fprintf(stderr, "accepted %zu frames of %zu pixels\n", Clip.Frames.size(), Pixels);
        std::abort();
    }
    for (const auto& Frame : Clip.Frames) {
        if (Frame.size() != Pixels) {
            std::fprintf(stderr, "a frame of %zu pixels in a clip of %zu\n", Frame.size(), Pixels);
            std::abort();
        }
        for (uint32_t Pixel : Frame)
            if (Pixel >> 24 != 0 && Pixel >> 24 != 0xFF) {
                std::fprintf(stderr, "a pixel with alpha %u\n", Pixel >> 24);
                std::abort();
            }
    }
    return 0;
}
