// Every failure of the component: its exception class and exact text, in file and in stream
// mode, and that a failed file-mode run leaves no output behind.
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <cctype>
#include <functional>

#include "TestHosts.h"
#include "TestMemory.h"
#include "platform/FileModes.h"

namespace {

const std::string Buffers = "Lzrw1 (de)compression : Failed to get memory for I/O buffers !";
const std::string ReadStream = "Lzrw1 : Error reading from input stream !";
const std::string WriteStream = "Lzrw1 : Error writing to output stream !";
const std::string KhSizes = "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
const std::string LzhSizes = "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

enum class TOp { Compress, Decompress, Advise };

void RunOp(Tlzrw1& c, TOp op)
{
    switch (op) {
    case TOp::Compress: c.Compress(); break;
    case TOp::Decompress: c.Decompress(); break;
    case TOp::Advise: c.Advise(); break;
    }
}

Bytes WithSize(Bytes image, int32_t size)
{
    Bytes header = Header(Le32(image, 0), size);
    std::copy(header.begin(), header.end(), image.begin());
    return image;
}

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); }

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes& Data() { static const Bytes d = MixedBytes(100000); return d; }
const Bytes& KhImage() { static const Bytes i = CompressInMemory(Data(), TCompressMode::Fast); return i; }
const Bytes& LzhImage() { static const Bytes i = CompressInMemory(Data(), TCompressMode::Good); return i; }
// An LZH image surely longer than one 32 KB refill.
const Bytes& LongLzhImage()
{
    static const Bytes i = CompressInMemory(RandomBytes(100000), TCompressMode::Good);
    return i;
}

struct TStreamCase {
    const char* Name;
    TOp Op;
    TCompressMode Mode;
    Bytes Input;
    std::function<void(TTestMemory&, TFailingStream& in, TFailingStream& out)> Setup;
    std::string Text;
};

std::vector<TStreamCase> StreamCases()
{
    using S = TFailingStream;
    auto none = [](TTestMemory&, S&, S&) {};
    auto noBuffers = [](TTestMemory& m, S&, S&) { m.FailAfter(0); };
    auto readFailsAt = [](int64_t at) { return [at](TTestMemory&, S& in, S&) { in.ReadLimit = at; }; };
    auto writeFailsAt = [](int64_t at) { return [at](TTestMemory&, S&, S& out) { out.WriteLimit = at; }; };
    auto writeShortAt = [](int64_t at) {
        return [at](TTestMemory&, S&, S& out) {
            out.WriteLimit = at;
            out.ShortInsteadOfFail = true;
        };
    };
    const auto Good = TCompressMode::Good, Fast = TCompressMode::Fast, Auto = TCompressMode::Auto;
    const auto C = TOp::Compress, D = TOp::Decompress, A = TOp::Advise;
    const Bytes& data = Data();
    const Bytes big = Bytes(98304, 0);
    return {
        {"compress without buffers", C, Good, data, noBuffers, Buffers},
        {"compress fast without buffers", C, Fast, data, noBuffers, Buffers},
        {"decompress without buffers", D, Good, LzhImage(), noBuffers, Buffers},
        {"advise without buffers", A, Good, big, noBuffers, "Lzrw1 advise : Error getting I/O buffers"},
        {"auto compress advises first", C, Auto, big, noBuffers, "Lzrw1 advise : Error getting I/O buffers"},

        {"compress, size unknown", C, Good, data, [](TTestMemory&, S& in, S&) { in.FailSize = true; },
         "Lzrw1 compression : Failed to obtain the size of the input stream !"},
        {"advise, size unknown", A, Good, big, [](TTestMemory&, S& in, S&) { in.FailSize = true; },
         "Lzrw1 advise : can not get size of inputstream !"},

        {"compress, input seek fails", C, Good, data, [](TTestMemory&, S& in, S&) { in.FailAllSeeks = true; },
         "Lzrw1 (de)compression : Failed to initialize input stream !"},
        {"compress, output seek fails", C, Fast, data, [](TTestMemory&, S&, S& out) { out.FailAllSeeks = true; },
         "Lzrw1 (de)compression : Failed to initialize output stream !"},
        {"decompress, input seek fails", D, Good, KhImage(), [](TTestMemory&, S& in, S&) { in.FailAllSeeks = true; },
         "Lzrw1 (de)compression : Failed to initialize input stream !"},
        {"decompress, output seek fails", D, Good, LzhImage(),
         [](TTestMemory&, S&, S& out) { out.FailAllSeeks = true; },
         "Lzrw1 (de)compression : Failed to initialize output stream !"},
        {"advise, rewind fails", A, Good, big, [](TTestMemory&, S& in, S&) { in.FailRewind = true; },
         "Lzrw1 edvise : can not initialize the input stream!"},

        {"tag write fails", C, Fast, data, writeFailsAt(0), WriteStream},
        {"tag write short", C, Good, data, writeShortAt(2), WriteStream},
        {"size write fails", C, Fast, data, writeFailsAt(4), WriteStream},
        {"size write short", C, Good, data, writeShortAt(6), WriteStream},
        {"block length write fails", C, Fast, data, writeFailsAt(8), WriteStream},
        {"block write short", C, Fast, data, writeShortAt(100), WriteStream},
        {"later block write fails", C, Fast, RandomBytes(100000), writeFailsAt(40000), WriteStream},
        {"LZH flush fails", C, Good, RandomBytes(50000), writeFailsAt(1000), WriteStream},
        {"LZH flush short", C, Good, RandomBytes(50000), writeShortAt(1000), WriteStream},
        {"LZH final flush fails", C, Good, Bytes{1, 2, 3}, writeFailsAt(8), WriteStream},
        {"decompress block write fails", D, Good, KhImage(), writeFailsAt(0), WriteStream},
        {"decompress later block write short", D, Good, KhImage(), writeShortAt(40000), WriteStream},
        {"decompress LZH flush fails", D, Good, LzhImage(), writeFailsAt(0), WriteStream},
        {"decompress LZH final flush short", D, Good, LzhImage(), writeShortAt(99999), WriteStream},

        {"block read fails", C, Fast, data, readFailsAt(0), ReadStream + " (LZRW1/KH)"},
        {"later block read fails", C, Fast, data, readFailsAt(40000), ReadStream + " (LZRW1/KH)"},
        {"LZH source read fails", C, Good, data, readFailsAt(0), ReadStream + " (LZH)"},
        {"later LZH source read fails", C, Good, data, readFailsAt(40000), ReadStream + " (LZH)"},
        {"LZH decoder's source read fails", D, Good, LzhImage(), readFailsAt(8), ReadStream + " (LZH)"},
        {"LZH decoder's later read fails", D, Good, LongLzhImage(), readFailsAt(40000), ReadStream + " (LZH)"},
        {"advise sample read fails", A, Good, big, readFailsAt(0), "Lzrw1 advise : input stream read error !"},
        {"advise second sample read fails", A, Good, big, readFailsAt(32768),
         "Lzrw1 advise : input stream read error !"},

        {"empty image", D, Good, Bytes{}, none, ReadStream},
        {"tag cut short", D, Good, Cut(KhImage(), 2), none, ReadStream},
        {"tag read fails", D, Good, KhImage(), readFailsAt(0), ReadStream},
        {"size cut short", D, Good, Cut(KhImage(), 6), none, ReadStream},
        {"LZH size cut short", D, Good, Cut(LzhImage(), 7), none, ReadStream},
        {"block length cut short", D, Good, Cut(KhImage(), 9), none, ReadStream},
        {"block length read fails", D, Good, KhImage(), readFailsAt(8), ReadStream},
        {"block cut short", D, Good, Cut(KhImage(), 200), none, ReadStream},
        {"later block cut short", D, Good, Cut(KhImage(), KhImage().size() - 10), none, ReadStream},

        {"unknown tag", D, Good, Bytes{'L', 'Z', 'H', '!', 0, 0, 0, 0}, none,
         "Lzrw1 decompression : input stream contains no valid header !"},
        {"LZRW1/KH size too large", D, Good, WithSize(KhImage(), 100001), none, KhSizes},
        {"LZRW1/KH size too small", D, Good, WithSize(KhImage(), 99999), none, KhSizes},
        {"LZH size ends inside a match", D, Good, WithSize(CompressInMemory(Bytes(200, 7), Good), 150), none, LzhSizes},
    };
}

class TStreamErrors : public ::testing::TestWithParam<TStreamCase> {};

} // namespace

TEST_P(TStreamErrors, RaiseTheirText)
{
    const auto& t = GetParam();
    TFailingStream in(t.Input), out;
    TTestMemory memory;
    {
        Tlzrw1 c(nullptr, memory);
        t.Setup(memory, in, out);
        c.UseStream = true;
        c.CompressMode = t.Mode;
        c.InputStream = &in;
        c.OutputStream = &out;
        EXPECT_EQ(Thrown<ELzrw1Exception>([&] { RunOp(c, t.Op); }), t.Text);
    }
    EXPECT_EQ(memory.Outstanding, 0) << "memory kept after the failure";
}

INSTANTIATE_TEST_SUITE_P(Container, TStreamErrors, ::testing::ValuesIn(StreamCases()),
                         [](const ::testing::TestParamInfo<TStreamCase>& info) {
                             std::string name;
                             for (char ch : std::string(info.param.Name))
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

namespace {

// A folder holding the input of one file-mode run.
struct TFiles {
    TTempDir Dir;
    std::string In = Dir.Path("input.bin");
    std::string Out = Dir.Path("output.bin");
};

std::string FileError(Tlzrw1& c, TOp op) { return Thrown<ELzrw1Exception>([&] { RunOp(c, op); }); }

} // namespace

TEST(FileErrors, BuffersThatCannotBeTaken)
{
    for (auto [op, text] : {std::pair{TOp::Compress, Buffers}, std::pair{TOp::Decompress, Buffers},
                            std::pair{TOp::Advise, std::string("Lzrw1 advise : Error getting I/O buffers")}}) {
        TFiles f;
        WriteBytes(f.In, op == TOp::Decompress ? LzhImage() : Data());
        TTestMemory memory;
        Tlzrw1 c(nullptr, memory);
        memory.FailAfter(0);
        c.InputFile = f.In;
        c.OutputFile = f.Out;
        EXPECT_EQ(FileError(c, op), text);
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin"}));
    }
}

TEST(FileErrors, LzhTablesThatCannotBeTakenPassThroughAndKeepTheOldOutput)
{
    for (auto op : {TOp::Compress, TOp::Decompress}) {
        TFiles f;
        WriteBytes(f.In, op == TOp::Decompress ? LzhImage() : Data());
        WriteBytes(f.Out, Bytes{1, 2, 3});
        TTestMemory memory;
        Tlzrw1 c(nullptr, memory);
        memory.FailAfter(2);  // the operation's two I/O buffers
        c.InputFile = f.In;
        c.OutputFile = f.Out;
        EXPECT_EQ(Thrown<ElzhException>([&] { RunOp(c, op); }), "LZH : Cannot get memory for dictionary tables");
        EXPECT_EQ(ReadBytes(f.Out), (Bytes{1, 2, 3}));
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin", "output.bin"}));
    }
}

TEST(FileErrors, InputSizeCannotBeFound)
{
    TFiles f;
    const std::string folder = f.Dir.Path("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const int readWrite = FileModeReadWrite;
    for (const std::string& input : {f.In /* missing */, folder}) {
        for (const int* mode : {static_cast<const int*>(nullptr), &readWrite}) {
            SCOPED_TRACE(input);
            Tlzrw1 c;
            c.InputFile = input;
            c.OutputFile = f.Out;
            c.DefaultFileMode = mode; // the probe opens with write access: a folder cannot be opened
            EXPECT_EQ(FileError(c, TOp::Compress), "Lzrw1 compression : Failed to obtain the size of : " + input);
            EXPECT_EQ(FileError(c, TOp::Advise), "Lzrw1 advise : can not get the size of : " + input);
            c.CompressMode = TCompressMode::Auto;
            EXPECT_EQ(FileError(c, TOp::Compress), "Lzrw1 advise : can not get the size of : " + input);
        }
    }
    EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"folder"}));
}

TEST(FileErrors, InputCannotBeRead)
{
    // With the read-only default the probe can open a folder; reading it then fails.
    TFiles f;
    const std::string folder = f.Dir.Path("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const int readOnly = FileModeReadShareAll;
    for (auto [mode, suffix] : {std::pair{TCompressMode::Fast, " (LZRW1/KH)"}, std::pair{TCompressMode::Good, " (LZH)"}}) {
        Tlzrw1 c;
        c.InputFile = folder;
        c.OutputFile = f.Out;
        c.CompressMode = mode;
        c.DefaultFileMode = &readOnly;
        EXPECT_EQ(FileError(c, TOp::Compress), "Lzrw1 : Error reading from input file : " + folder + suffix);
    }
    EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"folder"}));
}

TEST(FileErrors, InputCannotBeOpened)
{
    TFiles f;
    Tlzrw1 c;
    c.InputFile = f.In;
    c.OutputFile = f.Out;
    EXPECT_EQ(FileError(c, TOp::Decompress), "Lzrw1 (de)compression : Failed to open input file : " + f.In);
    EXPECT_TRUE(f.Dir.Entries().empty());
}

TEST(FileErrors, OutputCannotBeCreated)
{
    for (auto op : {TOp::Compress, TOp::Decompress}) {
        TFiles f;
        WriteBytes(f.In, op == TOp::Compress ? Data() : KhImage());
        const std::string out = f.Dir.Path("missing/output.bin");
        Tlzrw1 c;
        c.InputFile = f.In;
        c.OutputFile = out;
        c.CompressMode = TCompressMode::Fast;
        EXPECT_EQ(FileError(c, op), "Lzrw1 (de)compression : Failed to open output file : " + out);
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin"}));
    }
}

TEST(FileErrors, ImageCutShort)
{
    for (size_t keep : {size_t(0), size_t(3), size_t(6), size_t(9), size_t(300), KhImage().size() - 1}) {
        SCOPED_TRACE(keep);
        TFiles f;
        WriteBytes(f.In, Cut(KhImage(), keep));
        Tlzrw1 c;
        c.InputFile = f.In;
        c.OutputFile = f.Out;
        EXPECT_EQ(FileError(c, TOp::Decompress), "Lzrw1 : Error reading from input file : " + f.In);
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin"}));
    }
}

TEST(FileErrors, HeaderAndSizeChecks)
{
    struct TCase {
        const char* Name;
        Bytes Image;
        std::string Text; // a leading '@' stands for the input path
    };
    const TCase cases[] = {
        {"unknown tag", Bytes{'M', 'Z', 0x90, 0, 0, 0, 0, 0, 1, 2, 3}, "@ : Lzrw1 decompression : this file has no valid header !"},
        {"LZRW1/KH size", WithSize(KhImage(), 123456), KhSizes},
        {"LZH size", WithSize(CompressInMemory(Bytes(200, 7), TCompressMode::Good), 100), LzhSizes},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Name);
        TFiles f;
        WriteBytes(f.In, t.Image);
        Tlzrw1 c;
        c.InputFile = f.In;
        c.OutputFile = f.Out;
        std::string text = t.Text[0] == '@' ? f.In + t.Text.substr(1) : t.Text;
        EXPECT_EQ(FileError(c, TOp::Decompress), text);
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin"}));
        EXPECT_EQ(ReadBytes(f.In), t.Image) << "the input was changed";
    }
}

TEST(FileErrors, OutputCannotBeWritten)
{
    // A private device that refuses every write as a full disk does.
    TFiles f;
    const std::string full = f.Dir.Path("full");
    if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot create a device node here";
    WriteBytes(f.In, Data());
    const std::string image = f.Dir.Path("image.bin");
    WriteBytes(image, KhImage());
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        Tlzrw1 c;
        c.InputFile = f.In;
        c.OutputFile = full;
        c.CompressMode = mode;
        EXPECT_EQ(FileError(c, TOp::Compress), "Lzrw1 : Error writing to output file : " + full);
    }
    Tlzrw1 c;
    c.InputFile = image;
    c.OutputFile = full;
    EXPECT_EQ(FileError(c, TOp::Decompress), "Lzrw1 : Error writing to output file : " + full);
    struct stat st;
    ASSERT_EQ(lstat(full.c_str(), &st), 0) << "the device was removed";
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";
    EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"full", "image.bin", "input.bin"}));
}

TEST(EngineErrors, HashTableThatCannotBeTaken)
{
    try {
        TTestMemory memory;
        memory.FailAfter(0);
        Tlzrw1 c(nullptr, memory);
        FAIL() << "the component was created without its hash table";
    } catch (const ELzrw1KHCompressor& e) {
        EXPECT_STREQ(e.what(), "LZRW1KH : no memory for HASH table");
    }
}

TEST(EngineErrors, CorruptLzrw1KhImagesAreRefused)
{
    Bytes base = Header(Lzrw1KhTag, 40000);
    auto image = [&](uint16_t length, const Bytes& block) {
        Bytes b = base;
        PutLe16(b, length);
        b.insert(b.end(), block.begin(), block.end());
        return b;
    };
    Bytes overfull{0x40, 0xFF, 0x80};
    for (int i = 0; i < 8; ++i)
        overfull.insert(overfull.end(), {0x00, 0x0F, 0xF0, 0x61});
    overfull.insert(overfull.end(), {0x00, 0x00, 0x00, 0x62});
    struct TCase {
        const char* Name;
        Bytes Image;
    };
    const TCase cases[] = {
        {"block length 32770", image(32770, Cat(Bytes{0x80}, Bytes(32769, 1)))},
        {"block length 32770, not there", image(32770, Bytes{0x80, 1, 2, 3})},
        {"block length 65535, not there", image(65535, Bytes{0x80, 1, 2, 3})},
        {"copy before the start", image(5, Bytes{0x40, 0x80, 0x00, 0x00, 0x13})},
        {"run past the block end", image(4, Bytes{0x40, 0x80, 0x00, 0x00})},
        {"two-byte compressed block", image(2, Bytes{0x40, 0x00})},
        // Eight runs of 4096 and one more of 16.
        {"block beyond 32768 bytes", image(39, overfull)},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Name);
        std::string text = Thrown<ELzrw1Exception>([&] { DecompressInMemory(t.Image); });
        std::string lower = text;
        for (auto& ch : lower)
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lower.find("corrupt"), std::string::npos) << text;

        TFiles f;
        WriteBytes(f.In, t.Image);
        Tlzrw1 c;
        c.InputFile = f.In;
        c.OutputFile = f.Out;
        EXPECT_THROW(c.Decompress(), ELzrw1Exception);
        EXPECT_EQ(f.Dir.Entries(), (std::vector<std::string>{"input.bin"}));
    }
}
