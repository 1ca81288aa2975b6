// Tlzrw1: the compressor component. It writes and reads image files (their header is laid out in
// core/ImageHeader.h), does all input and output in 32 KB buffers, and reports progress through
// its panel's caption.
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "EngineErrors.h"
#include "LZRW1KH.h"
#include "Memory.h"
#include "Streams.h"
#include "lzh.h"
#include "core/ImageHeader.h"

enum class TCompressMode { Good = 0, Fast = 1, Auto = 2 };

// What the component needs of the panel that shows it (a Qt widget, a terminal, a test).
class TLzrw1Host {
public:
    virtual ~TLzrw1Host() = default;
    virtual bool Visible() const = 0;
    virtual void SetCaption(const std::string& Caption) = 0;
    virtual void Repaint() = 0;
    // Lets the user interface handle its pending events during long work.
    virtual void ProcessMessages() = 0;
    // With each repaint: the bytes of the dump done so far and in all, for a progress bar.
    virtual void ShowBytes(int64_t /*Done*/, int64_t /*Total*/) {}
};

constexpr int32_t IoBlockSize = 32768;
constexpr int32_t IoBufferSize = IoBlockSize + 16;

// Reads the header from an image's first Count bytes (fewer than 8 for an image that short).
// One without a valid tag is refused (ELzrw1Exception) with the engine's text, which names
// InputFile, or the input stream when InputFile is empty.
TImageHeader ReadImageHeader(const uint8_t* Bytes, size_t Count, const std::string& InputFile);

class Tlzrw1 {
public:
    // The codecs' tables and each operation's I/O buffers come from Memory.
    explicit Tlzrw1(TLzrw1Host* Host = nullptr, TMemorySource& Memory = HeapMemory());
    ~Tlzrw1();
    Tlzrw1(const Tlzrw1&) = delete;
    Tlzrw1& operator=(const Tlzrw1&) = delete;

    bool UseStream = false;
    std::string InputFile;
    std::string OutputFile;
    TCompressMode CompressMode = TCompressMode::Good;
    int32_t Threshold = 40;
    TStream* InputStream = nullptr;
    TStream* OutputStream = nullptr;
    // The program-wide default open mode for non-text files, used by the size probes of
    // Compress and Advise; read-write when not set.
    const int* DefaultFileMode = nullptr;
    // An OutputFile that is there when the output is put in place is replaced only when set;
    // otherwise the operation fails, keeping the finished output under the name the message
    // gives. The caller asks whether to replace before it starts.
    bool ReplaceOutput = true;

    // Bytes written, header included.
    int64_t Compress();
    // Bytes of uncompressed data written.
    int64_t Decompress();
    // Fast or Good: the recommendation for the current input.
    TCompressMode Advise();
    // Fails as Compress would when OutputFile cannot be created, before any long work starts;
    // leaves nothing behind and an existing file as it was. A device or pipe is not probed.
    void CheckOutputFile() const;

    // Called once the panel is loaded from its layout.
    void Loaded(bool DesignTime);
    const std::string& Caption() const { return CaptionText; }

    // Progress of the running operation, for hosts that draw more than the caption.
    int64_t BytesIn() const { return In; }
    int64_t BytesOut() const { return Out; }
    int32_t OriginalSize() const { return Original; }

private:
    class TOperation;
    friend class TOperation;
    class TWholeInput;

    void SetCaption(const std::string& Text);
    void ShowProgress(const char* Codec);
    void ShowCompletion(const char* StreamText, const char* FileText);
    void ProcessMessages();
    bool Visible() const;
    std::string TooLargeText() const;

    TLzrw1Host* Host;
    TMemorySource& Memory;
    TLZH Lzh;
    TLZR Lzr;
    std::string CaptionText;
    int64_t In = 0;
    int64_t Out = 0;
    int32_t Original = 0;
    // Decompress counts its progress in bytes written, Compress in bytes read.
    bool Unpacking = false;
    // A file-mode input that has no size to probe (a pipe), read whole for one Compress or Advise.
    std::unique_ptr<TStream> WholeInput;
};
