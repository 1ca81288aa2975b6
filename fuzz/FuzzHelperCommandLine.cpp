// The helper's command line on arbitrary text. A refusal is ECommandLineError with one line
// (it becomes error.dat); an accepted line must describe a run the helper can do.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "helper/Transfer.h"

namespace {

[[noreturn]] void Fail(const std::string& Parameters, const char* What)
{
    std::fprintf(stderr, "\"%s\": %s\n", Parameters.c_str(), What);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string Parameters(reinterpret_cast<const char*>(Data), Size);
    TTransferRequest Request;
    try {
        Request = ParseParameters(Parameters);
    } catch (const ECommandLineError& Error) {
        if (std::strpbrk(Error.what(), "\r\n"))
            Fail(Parameters, "the refusal is more than one line");
        return 0;
    }
    if (Request.Operation != 'i' && Request.Operation != 'd')
        Fail(Parameters, "an unknown operation");
    if (Request.File.empty() || Request.File.find(' ') != std::string::npos)
        Fail(Parameters, "a file name that is no field");
    if (Request.Drive < 'A' || Request.Drive > 'Z')
        Fail(Parameters, "a drive that is no letter");
    if (Request.Tracks < 1 || Request.SectorsPerTrack < 1)
        Fail(Parameters, "an empty geometry");
    if (Request.TracksBytes() > LargestDiskBytes)
        Fail(Parameters, "more than any diskette holds");
    if (Request.DumpBytes() < Request.TracksBytes())
        Fail(Parameters, "a dump shorter than its tracks");
    return 0;
}
