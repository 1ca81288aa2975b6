// Shared helpers of the compression engine's tests: a host that records what the component
// shows, a stream that fails on demand, temporary folders and test data.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compress/LZRW1.h"
#include "compress/Streams.h"

#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"

using Bytes = std::vector<uint8_t>;

// Records every call the component makes on its panel.
class TRecordingHost : public TLzrw1Host {
public:
    enum class TKind { Caption, Repaint, Process };
    struct TEvent {
        TKind Kind;
        std::string Text;
    };

    explicit TRecordingHost(bool visible = true) : IsVisible(visible) {}

    bool Visible() const override { return IsVisible; }
    void SetCaption(const std::string& caption) override { Events.push_back({TKind::Caption, caption}); }
    void Repaint() override { Events.push_back({TKind::Repaint, {}}); }
    void ProcessMessages() override { Events.push_back({TKind::Process, {}}); }

    std::vector<std::string> Captions() const
    {
        std::vector<std::string> texts;
        for (const auto& e : Events)
            if (e.Kind == TKind::Caption)
                texts.push_back(e.Text);
        return texts;
    }
    // Captions with runs of the same text folded into one: what the user actually sees change.
    std::vector<std::string> DistinctCaptions() const
    {
        auto texts = Captions();
        texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
        return texts;
    }
    size_t Count(TKind kind) const
    {
        return static_cast<size_t>(std::count_if(Events.begin(), Events.end(),
                                                 [kind](const TEvent& e) { return e.Kind == kind; }));
    }
    // True when every caption set is followed at once by a repaint.
    bool EveryCaptionRepainted() const
    {
        for (size_t i = 0; i < Events.size(); ++i)
            if (Events[i].Kind == TKind::Caption &&
                (i + 1 == Events.size() || Events[i + 1].Kind != TKind::Repaint))
                return false;
        return true;
    }
    void Clear() { Events.clear(); }

    bool IsVisible;
    std::vector<TEvent> Events;
};

// A memory stream that misbehaves on request: reads or writes fail (negative count) or come
// up short after a number of bytes, seeks or the size query fail.
class TFailingStream : public TMemoryStream {
public:
    static constexpr int64_t Never = -1;

    TFailingStream() = default;
    explicit TFailingStream(std::vector<uint8_t> bytes) : TMemoryStream(std::move(bytes)) {}

    int32_t Read(void* buffer, int32_t count) override
    {
        if (ReadLimit != Never && ReadDone + count > ReadLimit) {
            if (ShortInsteadOfFail) {
                int32_t left = static_cast<int32_t>(ReadLimit - ReadDone);
                int32_t got = TMemoryStream::Read(buffer, left);
                ReadDone += got;
                return got;
            }
            return -1;
        }
        if (ReadChunk > 0 && count > ReadChunk)
            count = ReadChunk;
        int32_t got = TMemoryStream::Read(buffer, count);
        if (got > 0)
            ReadDone += got;
        return got;
    }
    int32_t Write(const void* buffer, int32_t count) override
    {
        if (WriteLimit != Never && WriteDone + count > WriteLimit) {
            if (ShortInsteadOfFail) {
                int32_t left = static_cast<int32_t>(WriteLimit - WriteDone);
                int32_t put = TMemoryStream::Write(buffer, left);
                WriteDone += put;
                return put;
            }
            return -1;
        }
        int32_t put = TMemoryStream::Write(buffer, count);
        if (put > 0)
            WriteDone += put;
        return put;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        if (FailAllSeeks || (FailRewind && origin == TSeekOrigin::Beginning))
            return -1;
        return TMemoryStream::Seek(offset, origin);
    }
    int64_t Size() override { return FailSize ? -1 : TMemoryStream::Size(); }

    // Bytes after which reads (writes) stop working; Never keeps them working.
    int64_t ReadLimit = Never;
    int64_t WriteLimit = Never;
    // At the limit: false gives a negative count, true transfers what fits.
    bool ShortInsteadOfFail = false;
    // When above 0, no read transfers more than this (a stream that delivers in pieces).
    int32_t ReadChunk = 0;
    bool FailAllSeeks = false;
    bool FailRewind = false;
    bool FailSize = false;

    int64_t ReadDone = 0;
    int64_t WriteDone = 0;
};

using TTempDir = TTestFolder;

inline bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Deterministic pseudo-random bytes (xorshift), the same on every run.
inline Bytes RandomBytes(size_t size, uint32_t seed = 12345)
{
    Bytes data(size);
    uint32_t x = seed ? seed : 1;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return data;
}

// Text of pseudo-randomly chosen words: compressible, but not trivially.
inline Bytes TextBytes(size_t size, uint32_t seed = 777)
{
    static const char* const words[] = {
        "the",    "diskette", "sector", "track",  "image", "of",      "compress", "a",
        "format", "drive",    "boot",   "file",   "and",   "written", "read",     "cluster",
        "FAT",    "volume",   "to",     "header", "block", "Marrowtide", "is",    "window",
        "byte",   "\r\n",     "label",  "12",     "1440",  "directory", "root",   "entry"};
    Bytes data;
    data.reserve(size + 16);
    uint32_t x = seed;
    while (data.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* w = words[(x >> 16) % (sizeof(words) / sizeof(words[0]))];
        data.insert(data.end(), w, w + std::strlen(w));
        data.push_back((x >> 8) % 7 == 0 ? '.' : ' ');
    }
    data.resize(size);
    return data;
}

// Something like a diskette dump: zero-filled stretches, text, random sectors, a repeated
// byte pattern.
inline Bytes MixedBytes(size_t size)
{
    Bytes data;
    data.reserve(size);
    uint32_t part = 0;
    while (data.size() < size) {
        Bytes piece;
        switch (part++ % 4) {
        case 0: piece.assign(5000, 0); break;
        case 1: piece = TextBytes(7000, part); break;
        case 2: piece = RandomBytes(3000, part); break;
        default:
            for (int i = 0; i < 4500; ++i)
                piece.push_back(static_cast<uint8_t>(0xF6 - (i % 3)));
        }
        data.insert(data.end(), piece.begin(), piece.end());
    }
    data.resize(size);
    return data;
}

inline uint32_t Le32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint16_t Le16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

inline void PutLe32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutLe16(Bytes& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

// The text of the exception f raises when it is of class E; otherwise a text saying what
// happened instead, so that a comparison with the expected text fails readably.
template <class E, class F>
std::string Thrown(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<other exception class> ") + e.what();
    }
    return "<nothing thrown>";
}

// Runs the component in stream mode over memory streams.
inline Bytes CompressInMemory(const Bytes& input, TCompressMode mode, TLzrw1Host* host = nullptr,
                              int32_t* result = nullptr)
{
    Tlzrw1 c(host);
    c.UseStream = true;
    c.CompressMode = mode;
    TMemoryStream in(input), out;
    c.InputStream = &in;
    c.OutputStream = &out;
    int32_t r = c.Compress();
    if (result)
        *result = r;
    return out.Bytes;
}

inline Bytes DecompressInMemory(const Bytes& image, TLzrw1Host* host = nullptr, int32_t* result = nullptr)
{
    Tlzrw1 c(host);
    c.UseStream = true;
    TMemoryStream in(image), out;
    c.InputStream = &in;
    c.OutputStream = &out;
    int32_t r = c.Decompress();
    if (result)
        *result = r;
    return out.Bytes;
}

// An image header: tag and original size, little-endian.
inline Bytes Header(uint32_t tag, int32_t size)
{
    Bytes b;
    PutLe32(b, tag);
    PutLe32(b, uint32_t(size));
    return b;
}
