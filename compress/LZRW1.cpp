#include "LZRW1.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "SafeOutput.h"
#include "core/ByteOrder.h"
#include "platform/FileHandle.h"
#include "platform/FileModes.h"

namespace {

constexpr int32_t AdviseMinimum = 3 * IoBlockSize;  // 98304
constexpr int32_t SampleMask = 0x7FFF8000;

// The size of a file opened with the given default mode, or -1.
int64_t ProbeSize(const std::string& Path, int Mode)
{
    const TFileHandle File(::open(Path.c_str(), OpenFlagsOfFileMode(Mode) | O_CLOEXEC));
    if (!File.Valid())
        return -1;
    struct stat St;
    int64_t Size = ::fstat(File.Get(), &St) == 0 ? St.st_size : -1;
    if (Size >= 0 && S_ISBLK(St.st_mode))
        Size = ::lseek(File.Get(), 0, SEEK_END);  // a diskette device reports its size only this way
    return Size;
}

// The header's size field is a signed 32-bit count.
constexpr int64_t LargestInput = std::numeric_limits<int32_t>::max();

// Bytes held in memory in pieces of 1 MB, so that growing never copies nor clears them.
class TPiecesStream : public TStream {
public:
    static constexpr int64_t PieceSize = 1 << 20;

    // Reads Fd to its end, or until it holds more than Limit bytes; false on a read error.
    bool Fill(int Fd, int64_t Limit, TLzrw1Host* Host)
    {
        while (Length <= Limit) {
            if (Length == int64_t(Pieces.size()) * PieceSize)
                Pieces.emplace_back(new uint8_t[PieceSize]);
            const int64_t Offset = Length % PieceSize;
            const ssize_t Got = ::read(Fd, Pieces.back().get() + Offset, size_t(PieceSize - Offset));
            if (Got == 0)
                return true;
            if (Got < 0 && errno != EINTR)
                return false;
            Length += std::max<ssize_t>(Got, 0);
            if (Host)
                Host->ProcessMessages();
        }
        return true;
    }

    int32_t Read(void* Buffer, int32_t Count) override
    {
        int32_t Done = 0;
        while (Done < Count && Pos < Length) {
            const int64_t Offset = Pos % PieceSize;
            const int64_t Step = std::min({int64_t(Count - Done), PieceSize - Offset, Length - Pos});
            std::memcpy(static_cast<uint8_t*>(Buffer) + Done, Pieces[size_t(Pos / PieceSize)].get() + Offset, size_t(Step));
            Done += int32_t(Step);
            Pos += Step;
        }
        return Done;
    }
    int32_t Write(const void*, int32_t) override { return -1; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override
    {
        const int64_t Base = Origin == TSeekOrigin::Beginning ? 0 : Origin == TSeekOrigin::Current ? Pos : Length;
        if (Base + Offset < 0)
            return -1;
        return Pos = Base + Offset;
    }
    int64_t Size() override { return Length; }

private:
    std::vector<std::unique_ptr<uint8_t[]>> Pieces;
    int64_t Length = 0;
    int64_t Pos = 0;
};

// A path that can be read only once, from start to end, and has no size of its own to probe:
// a pipe, a character device or a socket.
bool ReadOnlyOnce(const std::string& Path)
{
    struct stat St;
    return ::stat(Path.c_str(), &St) == 0 &&
           (S_ISFIFO(St.st_mode) || S_ISCHR(St.st_mode) || S_ISSOCK(St.st_mode));
}

std::string Percent(int64_t Part, int64_t Whole)
{
    return std::to_string(Whole == 0 ? 0 : Part * 100 / Whole);
}

} // namespace

// The buffers, handles and texts of one Compress, Decompress or Advise; released on every exit.
class Tlzrw1::TOperation {
public:
    explicit TOperation(Tlzrw1& Owner) : Engine(Owner), Stream(Owner.UseStream) {}
    ~TOperation()
    {
        // Not committed: only what this operation created goes away.
        Output.Discard();
    }

    bool TakeBuffers()
    {
        InBuffer = TakeArray<uint8_t>(Engine.Memory, IoBufferSize);
        OutBuffer = TakeArray<uint8_t>(Engine.Memory, IoBufferSize);
        if (!InBuffer || !OutBuffer)
            return false;
        // The slack past a block is read by the block coder's look-ahead: keep it defined.
        std::memset(InBuffer.get() + IoBlockSize, 0, IoBufferSize - IoBlockSize);
        return true;
    }

    int64_t InputSize()
    {
        if (Stream)
            return Engine.InputStream ? Engine.InputStream->Size() : -1;
        if (Engine.WholeInput)
            return Engine.WholeInput->Size();
        return ProbeSize(Engine.InputFile, Engine.DefaultFileMode ? *Engine.DefaultFileMode : FileModeReadWrite);
    }

    void OpenInput()
    {
        if (Engine.WholeInput) {
            Engine.WholeInput->Seek(0, TSeekOrigin::Beginning);
            return;
        }
        if (Stream) {
            if (!Engine.InputStream || Engine.InputStream->Seek(0, TSeekOrigin::Current) < 0)
                Fail("Lzrw1 (de)compression : Failed to initialize input stream !");
            return;
        }
        Input.Reset(::open(Engine.InputFile.c_str(), O_RDONLY | O_CLOEXEC));
        if (!Input.Valid())
            Fail("Lzrw1 (de)compression : Failed to open input file : " + Engine.InputFile);
    }

    void OpenOutput()
    {
        if (Stream) {
            if (!Engine.OutputStream || Engine.OutputStream->Seek(0, TSeekOrigin::Current) < 0)
                Fail("Lzrw1 (de)compression : Failed to initialize output stream !");
            return;
        }
        if (!Output.Open(Engine.OutputFile, Engine.ReplaceOutput))
            Fail("Lzrw1 (de)compression : Failed to open output file : " + Engine.OutputFile);
    }

    // Up to Count bytes; negative on a read error.
    int32_t Read(uint8_t* Buffer, int32_t Count)
    {
        if (Engine.WholeInput)
            return Engine.WholeInput->Read(Buffer, Count);
        return Stream ? Engine.InputStream->Read(Buffer, Count) : TFileStream(Input.Get()).Read(Buffer, Count);
    }

    int32_t Write(const uint8_t* Buffer, int32_t Count)
    {
        return Stream ? Engine.OutputStream->Write(Buffer, Count) : TFileStream(Output.Handle()).Write(Buffer, Count);
    }

    void ReadExactly(uint8_t* Buffer, int32_t Count)
    {
        if (Read(Buffer, Count) != Count)
            Fail(ReadErrorText());
        Engine.ProcessMessages();
    }

    // Returns the count written; anything short of Count fails.
    int32_t WriteExactly(const uint8_t* Buffer, int32_t Count)
    {
        const int32_t Written = Write(Buffer, Count);
        if (Written != Count)
            Fail(Stream ? "Lzrw1 : Error writing to output stream !"
                        : "Lzrw1 : Error writing to output file : " + Engine.OutputFile);
        Engine.ProcessMessages();
        return Written;
    }

    std::string ReadErrorText() const
    {
        return Stream ? "Lzrw1 : Error reading from input stream !"
                      : "Lzrw1 : Error reading from input file : " + Engine.InputFile;
    }

    void Commit()
    {
        Input.Reset();
        if (Stream || Output.Commit())
            return;
        if (errno != EEXIST)
            Fail("Lzrw1 : Error writing to output file : " + Engine.OutputFile);
        Fail("Lzrw1 : Output file already exists : " + Engine.OutputFile +
             (Output.KeptAs().empty() ? std::string(" ; the result was dropped")
                                      : " ; the result is kept as : " + Output.KeptAs()));
    }

    [[noreturn]] static void Fail(const std::string& Text) { throw ELzrw1Exception(Text); }

    void CompressBlocks();
    void CompressStream();
    void DecompressBlocks();
    void DecompressStream();

    Tlzrw1& Engine;
    const bool Stream;
    TTaken<uint8_t> InBuffer;
    TTaken<uint8_t> OutBuffer;
    TFileHandle Input;
    TSafeOutput Output;

private:
    class TSource;
    class TSink;
};

// The LZH codec's input: the input buffer, refilled 32768 bytes at a time.
class Tlzrw1::TOperation::TSource : public TLZHByteSource {
public:
    explicit TSource(TOperation& Op) : Op(Op) {}

protected:
    bool Refill() override
    {
        const int32_t Count = Op.Read(Op.InBuffer.get(), IoBlockSize);
        if (Count < 0)
            Fail(Op.ReadErrorText() + " (LZH)");
        Op.Engine.In += Count;
        Op.Engine.ProcessMessages();
        Op.Engine.ShowProgress("(LZH)");
        if (Count == 0)
            return false;
        Next = Op.InBuffer.get();
        Limit = Next + Count;
        return true;
    }

private:
    TOperation& Op;
};

// The LZH codec's output: written out in pieces of exactly 32768 bytes, the rest at Finish().
class Tlzrw1::TOperation::TSink : public TLZHByteSink {
public:
    explicit TSink(TOperation& Op) : Op(Op)
    {
        Next = Op.OutBuffer.get();
        Limit = Next + IoBlockSize;
    }
    void Finish() { Drain(); }

protected:
    void Drain() override
    {
        uint8_t* const Start = Op.OutBuffer.get();
        Op.Engine.Out += Op.WriteExactly(Start, static_cast<int32_t>(Next - Start));
        Next = Start;
        Op.Engine.ShowProgress("(LZH)");
    }

private:
    TOperation& Op;
};

void Tlzrw1::TOperation::CompressBlocks()
{
    int32_t Count = IoBlockSize;
    Engine.In = 0;
    while (Count == IoBlockSize) {
        Count = Read(InBuffer.get(), IoBlockSize);
        if (Count < 0)
            Fail(ReadErrorText() + " (LZRW1/KH)");
        Engine.ProcessMessages();
        Engine.In += Count;
        // Stale bytes after a short block must not feed the coder's look-ahead.
        std::memset(InBuffer.get() + Count, 0, 2);
        const uint16_t Length = Engine.Lzr.CompressBlock(InBuffer.get(), OutBuffer.get(), static_cast<uint16_t>(Count));
        const uint8_t Word[2] = {static_cast<uint8_t>(Length), static_cast<uint8_t>(Length >> 8)};
        WriteExactly(Word, 2);
        Engine.Out += 2;
        WriteExactly(OutBuffer.get(), Length);
        Engine.Out += Length;
        Engine.ShowProgress("(LZRW1/KH)");
    }
}

void Tlzrw1::TOperation::CompressStream()
{
    TSource Source(*this);
    TSink Sink(*this);
    int32_t Consumed = 0;
    Engine.Lzh.Encode(Consumed, Source, Sink);
    Sink.Finish();
}

void Tlzrw1::TOperation::DecompressBlocks()
{
    int32_t Count = IoBlockSize;
    while (Count == IoBlockSize) {
        uint8_t Word[2];
        ReadExactly(Word, 2);
        const int32_t Length = GetLE16(Word);
        if (Length > IoBlockSize + 1)
            Fail("Lzrw1 (decompression LZRW1/KH) : corrupt block !");
        ReadExactly(InBuffer.get(), Length);
        Engine.In += Length + 2;
        Count = Engine.Lzr.DecompressBlock(InBuffer.get(), OutBuffer.get(), static_cast<uint16_t>(Length));
        // A damaged header must not make the output grow past what it announced.
        if (Engine.Out + Count > Engine.Original)
            Fail("Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !");
        Engine.Out += WriteExactly(OutBuffer.get(), Count);
        Engine.ShowProgress("(LZRW1/KH)");
    }
    if (Engine.Out != Engine.Original)
        Fail("Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !");
}

void Tlzrw1::TOperation::DecompressStream()
{
    TSource Source(*this);
    TSink Sink(*this);
    Engine.Lzh.Decode(Engine.Original, Source, Sink);
    Sink.Finish();
    if (Engine.Out != Engine.Original)
        Fail("Lzrw1 (LZH decompression) : Original and compressed sizes do not match !");
}

// Reads an input that can be read only once whole into memory, for the one Compress or Advise
// that needs it (Compress with Auto hands it on to its Advise); the header must hold its size
// before any byte is coded.
class Tlzrw1::TWholeInput {
public:
    explicit TWholeInput(Tlzrw1& Owner) : Engine(Owner)
    {
        if (Engine.UseStream || Engine.WholeInput || !ReadOnlyOnce(Engine.InputFile))
            return;
        TFileHandle File(::open(Engine.InputFile.c_str(), O_RDONLY | O_CLOEXEC));
        if (!File.Valid())
            TOperation::Fail("Lzrw1 (de)compression : Failed to open input file : " + Engine.InputFile);
        auto Whole = std::make_unique<TPiecesStream>();
        const bool Ok = Whole->Fill(File.Get(), LargestInput, Engine.Host);
        File.Reset();
        if (!Ok)
            TOperation::Fail("Lzrw1 : Error reading from input file : " + Engine.InputFile);
        if (Whole->Size() > LargestInput)
            TOperation::Fail(Engine.TooLargeText());
        Engine.WholeInput = std::move(Whole);
        Owns = true;
    }
    ~TWholeInput()
    {
        if (Owns)
            Engine.WholeInput.reset();
    }
    TWholeInput(const TWholeInput&) = delete;
    TWholeInput& operator=(const TWholeInput&) = delete;

private:
    Tlzrw1& Engine;
    bool Owns = false;
};

Tlzrw1::Tlzrw1(TLzrw1Host* Host, TMemorySource& Memory) : Host(Host), Memory(Memory), Lzh(Memory), Lzr(Memory) {}

Tlzrw1::~Tlzrw1() = default;

TImageHeader ReadImageHeader(const uint8_t* Bytes, size_t Count, const std::string& InputFile)
{
    const std::optional<TImageHeader> Header = ParseImageHeader(Bytes, Count);
    if (!Header)
        throw ELzrw1Exception(InputFile.empty() ? "Lzrw1 decompression : input stream contains no valid header !"
                                                : InputFile + " : Lzrw1 decompression : this file has no valid header !");
    return *Header;
}

void Tlzrw1::Loaded(bool DesignTime)
{
    SetCaption(DesignTime ? "LZRW1/KH Compressor / Decompressor" : "");
}

bool Tlzrw1::Visible() const { return Host && Host->Visible(); }

void Tlzrw1::SetCaption(const std::string& Text)
{
    CaptionText = Text;
    if (Host)
        Host->SetCaption(Text);
}

void Tlzrw1::ShowProgress(const char* Codec)
{
    if (!Visible())
        return;
    SetCaption(std::string(Codec) + " Bytes in : " + std::to_string(In) + " Bytes out : " + std::to_string(Out));
    Host->ShowBytes(Unpacking ? Out : In, Original);
    Host->Repaint();
}

void Tlzrw1::ShowCompletion(const char* StreamText, const char* FileText)
{
    if (!Visible())
        return;
    const std::string Ratio = Percent(Out, In) + "%";
    SetCaption(UseStream ? StreamText + Ratio : InputFile + FileText + Ratio);
    Host->Repaint();
}

std::string Tlzrw1::TooLargeText() const
{
    return "Lzrw1 compression : " + InputFile + " holds more than the " +
           std::to_string(LargestInput) + " bytes an image can hold !";
}

void Tlzrw1::ProcessMessages()
{
    if (Host)
        Host->ProcessMessages();
}

int64_t Tlzrw1::Compress()
{
    TWholeInput Whole(*this);
    bool Fast = CompressMode == TCompressMode::Fast;
    if (CompressMode == TCompressMode::Auto)
        Fast = Advise() == TCompressMode::Fast;

    TOperation Op(*this);
    if (!Op.TakeBuffers())
        TOperation::Fail("Lzrw1 (de)compression : Failed to get memory for I/O buffers !");
    const int64_t Size = Op.InputSize();
    if (Size < 0)
        TOperation::Fail(UseStream ? "Lzrw1 compression : Failed to obtain the size of the input stream !"
                                   : "Lzrw1 compression : Failed to obtain the size of : " + InputFile);
    if (Size > LargestInput)
        TOperation::Fail(TooLargeText());
    Original = static_cast<int32_t>(Size);
    Unpacking = false;
    Op.OpenInput();
    Op.OpenOutput();

    uint8_t Header[4];
    PutLE32(Header, ImageTag(Fast ? TImageCodec::Lzrw1Kh : TImageCodec::Lzh));
    Op.WriteExactly(Header, 4);
    Out = 4;
    In = 0;
    PutLE32(Header, static_cast<uint32_t>(Original));
    Op.WriteExactly(Header, 4);
    Out += 4;

    if (Fast)
        Op.CompressBlocks();
    else
        Op.CompressStream();
    // A file that changed while it was read would leave a header that lies about it.
    if (!UseStream && In != Original)
        TOperation::Fail(Op.ReadErrorText());
    Op.Commit();

    ShowCompletion("Lzrw1 : inputstream successfully compressed at ", " : Lzrw1 : successfully compressed at ");
    return Out;
}

int64_t Tlzrw1::Decompress()
{
    TOperation Op(*this);
    if (!Op.TakeBuffers())
        TOperation::Fail("Lzrw1 (de)compression : Failed to get memory for I/O buffers !");
    Op.OpenInput();
    Op.OpenOutput();

    // A tag or a size cut short is a read error, but an unknown tag is refused as such first.
    uint8_t Bytes[ImageHeaderSize];
    Op.ReadExactly(Bytes, 4);
    const int32_t SizeBytes = std::max(Op.Read(Bytes + 4, 4), 0);
    const TImageHeader Header = ReadImageHeader(Bytes, size_t(4 + SizeBytes), UseStream ? "" : InputFile);
    if (!Header.OriginalSize)
        TOperation::Fail(Op.ReadErrorText());
    ProcessMessages();
    In = ImageHeaderSize;
    Out = 0;
    Original = *Header.OriginalSize;
    Unpacking = true;
    if (Header.Codec == TImageCodec::Lzrw1Kh)
        Op.DecompressBlocks();
    else
        Op.DecompressStream();
    Op.Commit();

    ShowCompletion("LZrw1 : inputstream successfully decompressed at ", " : Lzrw1 : successfully decompressed at ");
    return Out;
}

TCompressMode Tlzrw1::Advise()
{
    TWholeInput Whole(*this);
    int64_t StreamPosition = 0;
    if (UseStream) {
        SetCaption("Guessing the best compression mode for the inputstream");
        StreamPosition = InputStream ? InputStream->Position() : 0;
    } else {
        SetCaption("Guessing the best compression mode for : " + InputFile);
    }

    TOperation Op(*this);
    // Puts a stream back where the caller had it, on every way out.
    struct TRestore {
        TStream* Stream;
        int64_t Position;
        ~TRestore()
        {
            if (Stream && Position >= 0)
                Stream->Seek(Position, TSeekOrigin::Beginning);
        }
    } Restore{UseStream ? InputStream : nullptr, StreamPosition};

    if (!Op.TakeBuffers())
        TOperation::Fail("Lzrw1 advise : Error getting I/O buffers");
    const int64_t Size = Op.InputSize();
    if (Size < 0 || Size > LargestInput)
        TOperation::Fail(UseStream ? "Lzrw1 advise : can not get size of inputstream !"
                                   : "Lzrw1 advise : can not get the size of : " + InputFile);
    if (UseStream) {
        if (!InputStream || InputStream->Seek(0, TSeekOrigin::Beginning) < 0)
            TOperation::Fail("Lzrw1 edvise : can not initialize the input stream!");
    } else if (!WholeInput) {
        Op.Input.Reset(::open(InputFile.c_str(), O_RDONLY | O_CLOEXEC));
        if (!Op.Input.Valid())
            TOperation::Fail("Lzrw1 advise : can open input file : " + InputFile);
    }

    if (Size < AdviseMinimum) {
        CompressMode = TCompressMode::Good;
        SetCaption("Lzrw1 recommends GOOD compression :  small file !!");
        return TCompressMode::Good;
    }

    int64_t SampleIn = 0, SampleOut = 0;
    for (const int64_t Offset : {(Size / 3) & SampleMask, (2 * Size / 3) & SampleMask}) {
        TStream* const Seekable = UseStream ? InputStream : WholeInput.get();
        const bool Placed = Seekable ? Seekable->Seek(Offset, TSeekOrigin::Beginning) == Offset
                                     : ::lseek(Op.Input.Get(), Offset, SEEK_SET) == Offset;
        const int32_t Count = Placed ? Op.Read(Op.InBuffer.get(), IoBlockSize) : -1;
        if (Count < 0)
            TOperation::Fail(UseStream ? "Lzrw1 advise : input stream read error !"
                                       : "Lzrw1 advise : read error on input file : " + InputFile);
        ProcessMessages();
        std::memset(Op.InBuffer.get() + Count, 0, 2);
        SampleIn += Count;
        SampleOut += Lzr.CompressBlock(Op.InBuffer.get(), Op.OutBuffer.get(), static_cast<uint16_t>(Count));
    }

    const std::string Ratio = Percent(SampleOut, SampleIn) + "%.";
    if (SampleOut < Threshold * SampleIn / 100) {
        SetCaption("Lzrw1 recommends FAST compression : " + Ratio);
        return TCompressMode::Fast;
    }
    SetCaption("Lzrw1 recommends GOOD compression : " + Ratio);
    return TCompressMode::Good;
}

void Tlzrw1::CheckOutputFile() const
{
    struct stat St;
    if (::stat(OutputFile.c_str(), &St) == 0 && !S_ISREG(St.st_mode))
        return;
    TSafeOutput Probe;
    if (!Probe.Open(OutputFile))
        TOperation::Fail("Lzrw1 (de)compression : Failed to open output file : " + OutputFile);
    Probe.Discard();
}
