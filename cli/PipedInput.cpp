#include "cli/PipedInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "platform/FileHandle.h"
#include "platform/Files.h"

namespace {

// No image holds more, nor does a dump that can be packed.
constexpr int64_t LargestInput = std::numeric_limits<int32_t>::max();

}  // namespace

TPipedInput::TPipedInput(const std::string& Path) : Given(Path)
{
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISFIFO(Info.st_mode))
        return;
    TFileHandle Pipe(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!Pipe.Valid())
        throw std::runtime_error("cannot open " + Path + ": " + std::strerror(errno));
    Copy = std::make_unique<TMemoryFile>();
    const int64_t Total = ReadAll(Pipe.Get(), LargestInput,
                                  [this](const char* Bytes, size_t Count) { Copy->Append(Bytes, Count); });
    if (Total < 0)
        throw std::runtime_error("cannot read " + Path + ": " + std::strerror(errno));
    if (Total > LargestInput)
        throw std::runtime_error(Path + ": holds more than the " + std::to_string(LargestInput) +
                                 " bytes an image can hold");
}

std::string TPipedInput::Named(std::string Text) const
{
    if (!Copy)
        return Text;
    const std::string& Name = Copy->Path();
    for (size_t At = Text.find(Name); At != std::string::npos; At = Text.find(Name, At + 1)) {
        // "/proc/self/fd/5" is not the start of "/proc/self/fd/51".
        const size_t End = At + Name.size();
        if (End < Text.size() && Text[End] >= '0' && Text[End] <= '9')
            continue;
        Text.replace(At, Name.size(), Given);
    }
    return Text;
}
