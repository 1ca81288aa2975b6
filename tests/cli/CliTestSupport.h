// Deterministic diskette dumps and a runner for the marrowtide-img program.
#pragma once

#include <sys/wait.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/PrivateProfile.h"
#include "tests/support/TestFiles.h"

namespace clitest {

using TTempDir = TTestFolder;

// A dump of Size bytes mixing text, zero runs and pseudo-random data, as a used diskette
// holds; the same Seed gives the same bytes.
inline std::vector<uint8_t> MakeDump(size_t Size, uint32_t Seed)
{
    std::vector<uint8_t> Bytes(Size, 0);
    uint32_t State = Seed * 2654435761u + 1;
    auto Next = [&State] {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return State;
    };
    const std::string Text = "FILE0000.TXT  The quick brown fox jumps over the lazy dog. ";
    for (size_t Start = 0; Start < Size; Start += 4096) {
        const size_t End = std::min(Size, Start + 4096);
        switch (Next() % 3) {
        case 0:
            for (size_t i = Start; i < End; ++i)
                Bytes[i] = uint8_t(Text[(i - Start) % Text.size()] + ((i / 512) % 7 == 0));
            break;
        case 1:
            break;  // free space
        default:
            for (size_t i = Start; i < End; ++i)
                Bytes[i] = uint8_t(Next() >> 24);
        }
    }
    return Bytes;
}

struct TRun {
    int Code = -1;
    std::string Out;
    std::string Err;
};

inline std::string Quote(const std::string& Arg)
{
    std::string Quoted = "'";
    for (char C : Arg)
        Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
    return Quoted + "'";
}

// Runs marrowtide-img with Args; its output streams are kept in Scratch.
inline TRun RunTool(const TTempDir& Scratch, const std::vector<std::string>& Args)
{
    std::string Command = Quote(MARROWTIDE_IMG_PATH);
    for (const std::string& Arg : Args)
        Command += " " + Quote(Arg);
    const std::string OutPath = Scratch / "stdout.txt";
    const std::string ErrPath = Scratch / "stderr.txt";
    Command += " >" + Quote(OutPath) + " 2>" + Quote(ErrPath) + " </dev/null";
    TRun Run;
    const int Status = std::system(Command.c_str());
    Run.Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    Run.Out = ReadText(OutPath);
    Run.Err = ReadText(ErrPath);
    std::filesystem::remove(OutPath);
    std::filesystem::remove(ErrPath);
    return Run;
}

inline bool Contains(const std::string& Text, const std::string& Part)
{
    return Text.find(Part) != std::string::npos;
}

// The hex digest a coreutils tool (md5sum, sha1sum ...) prints for File.
inline std::string DigestBy(const std::string& Tool, const TTempDir& Dir, const std::string& File)
{
    const std::string Out = Dir / "digest.txt";
    if (std::system((Tool + " " + Quote(File) + " >" + Quote(Out)).c_str()) != 0)
        ADD_FAILURE() << Tool << " failed on " << File;
    const std::string Line = ReadText(Out);
    std::filesystem::remove(Out);
    return Line.substr(0, Line.find(' '));
}

// zlib's CRC32 of Bytes, as crc32-style tools print it.
inline std::string Crc32Of(const std::vector<uint8_t>& Bytes)
{
    char Text[9];
    std::snprintf(Text, sizeof Text, "%08lx", crc32(0, Bytes.data(), uInt(Bytes.size())));
    return Text;
}

}  // namespace clitest
