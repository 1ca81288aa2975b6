// File-mode output goes to a temporary file beside OutputFile and replaces it only after
// success: a failure never costs the previous content, and leaves nothing behind. Outputs
// that are not regular files are written in place and never removed.
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include "TestHosts.h"
#include "TestMemory.h"
#include "platform/FileModes.h"

namespace {

Bytes WithSize(Bytes image, int32_t size)
{
    Bytes header = Header(Le32(image, 0), size);
    std::copy(header.begin(), header.end(), image.begin());
    return image;
}

struct TFailure {
    const char* Name;
    Bytes Image;
};

std::vector<TFailure> FailingImages()
{
    Bytes data = MixedBytes(80000);
    Bytes kh = CompressInMemory(data, TCompressMode::Fast);
    Bytes lzh = CompressInMemory(data, TCompressMode::Good);
    return {
        {"no valid header", Bytes{'n', 'o', 'p', 'e', 0, 0, 0, 0}},
        {"LZRW1/KH sizes differ", WithSize(kh, 80001)},
        {"LZH sizes differ", WithSize(CompressInMemory(Bytes(200, 9), TCompressMode::Good), 100)},
        {"image cut short", Bytes(kh.begin(), kh.begin() + long(kh.size() / 2))},
        {"corrupt block", Bytes{0x57, 0x52, 0x5A, 0x4C, 10, 0, 0, 0, 5, 0, 0x40, 0x80, 0x00, 0x00, 0x13}},
        {"LZH image cut in the header", Bytes(lzh.begin(), lzh.begin() + 6)},
    };
}

const Bytes Precious = {'k', 'e', 'e', 'p', ' ', 'm', 'e', '\n'};

} // namespace

TEST(SafeOutput, FailedDecompressKeepsTheOldOutput)
{
    for (const auto& t : FailingImages()) {
        SCOPED_TRACE(t.Name);
        TTempDir dir;
        const std::string in = dir.Path("image.144"), out = dir.Path("dump.bin");
        WriteBytes(in, t.Image);
        WriteBytes(out, Precious);
        Tlzrw1 c;
        c.InputFile = in;
        c.OutputFile = out;
        EXPECT_THROW(c.Decompress(), ELzrw1Exception);
        EXPECT_EQ(ReadBytes(out), Precious);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dump.bin", "image.144"})) << "stray files";
    }
}

TEST(SafeOutput, FailedDecompressLeavesNoNewFile)
{
    for (const auto& t : FailingImages()) {
        SCOPED_TRACE(t.Name);
        TTempDir dir;
        const std::string in = dir.Path("image.144");
        WriteBytes(in, t.Image);
        Tlzrw1 c;
        c.InputFile = in;
        c.OutputFile = dir.Path("dump.bin");
        EXPECT_THROW(c.Decompress(), ELzrw1Exception);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"image.144"}));
    }
}

TEST(SafeOutput, FailedCompressKeepsTheOldOutput)
{
    TTempDir dir;
    const std::string in = dir.Path("dump.bin"), out = dir.Path("image.144");
    WriteBytes(in, TextBytes(50000));
    WriteBytes(out, Precious);
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast, TCompressMode::Auto}) {
        TTestMemory memory;
        Tlzrw1 c(nullptr, memory);
        memory.FailAfter(0);  // no I/O buffers
        c.InputFile = in;
        c.OutputFile = out;
        c.CompressMode = mode;
        EXPECT_THROW(c.Compress(), ELzrw1Exception);
        EXPECT_EQ(ReadBytes(out), Precious);
    }
    // An input that cannot be read fails once coding has begun.
    const std::string folder = dir.Path("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const int readOnly = FileModeReadShareAll;
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        Tlzrw1 c;
        c.InputFile = folder;
        c.OutputFile = out;
        c.CompressMode = mode;
        c.DefaultFileMode = &readOnly;
        EXPECT_THROW(c.Compress(), ELzrw1Exception);
        EXPECT_EQ(ReadBytes(out), Precious);
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dump.bin", "folder", "image.144"}));
}

TEST(SafeOutput, SuccessReplacesTheOutputAndLeavesNothingElse)
{
    TTempDir dir;
    const std::string in = dir.Path("dump.bin"), out = dir.Path("image.144"), back = dir.Path("back.bin");
    Bytes data = MixedBytes(100000);
    WriteBytes(in, data);
    // Existing outputs longer than the new content: nothing of them may survive.
    WriteBytes(out, RandomBytes(300000));
    WriteBytes(back, RandomBytes(300000));
    for (auto mode : {TCompressMode::Good, TCompressMode::Fast}) {
        Tlzrw1 c;
        c.InputFile = in;
        c.OutputFile = out;
        c.CompressMode = mode;
        int32_t written = c.Compress();
        EXPECT_EQ(ReadBytes(out), CompressInMemory(data, mode));
        EXPECT_EQ(int64_t(ReadBytes(out).size()), written);
        c.InputFile = out;
        c.OutputFile = back;
        c.Decompress();
        EXPECT_TRUE(ReadBytes(back) == data);
        EXPECT_TRUE(ReadBytes(in) == data) << "the input was changed";
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"back.bin", "dump.bin", "image.144"}));
    }
}

TEST(SafeOutput, FifoIsWrittenInPlace)
{
    TTempDir dir;
    const std::string in = dir.Path("dump.bin"), fifo = dir.Path("pipe");
    Bytes data = TextBytes(3000);
    WriteBytes(in, data);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Our end is open before the engine's, so its open does not wait; the image is small
    // enough for the pipe to hold it all.
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    Tlzrw1 c;
    c.InputFile = in;
    c.OutputFile = fifo;
    c.Compress();
    Bytes got;
    uint8_t buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
        got.insert(got.end(), buffer, buffer + n);
    EXPECT_EQ(got, CompressInMemory(data, TCompressMode::Good));

    // A failure does not remove it either.
    const std::string bad = dir.Path("bad.img");
    WriteBytes(bad, {'b', 'a', 'd', '!', 0, 0, 0, 0});
    c.InputFile = bad;
    EXPECT_THROW(c.Decompress(), ELzrw1Exception);
    close(reader);

    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0) << "the pipe was removed";
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced";
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"bad.img", "dump.bin", "pipe"}));
}

TEST(SafeOutput, DeviceIsWrittenInPlaceAndKept)
{
    TTempDir dir;
    const std::string null = dir.Path("null");
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot create a device node here";
    const std::string in = dir.Path("dump.bin");
    WriteBytes(in, TextBytes(40000));
    const std::string bad = dir.Path("bad.img");
    WriteBytes(bad, {'b', 'a', 'd', '!', 0, 0, 0, 0});
    Tlzrw1 c;
    c.InputFile = in;
    c.OutputFile = null;
    EXPECT_GT(c.Compress(), 8);
    c.InputFile = bad;
    EXPECT_THROW(c.Decompress(), ELzrw1Exception);
    struct stat st;
    ASSERT_EQ(lstat(null.c_str(), &st), 0) << "the device was removed";
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"bad.img", "dump.bin", "null"}));
}
