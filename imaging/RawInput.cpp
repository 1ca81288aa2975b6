// Raw dumps given where an image is expected (the console tool's write, verify and info): a file
// without a codec's tag whose size is a diskette's is taken as the dump itself.
#include "imaging/RawInput.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "core/FormatTable.h"
#include "core/ImageHeader.h"
#include "imaging/ForeignImage.h"
#include "platform/Files.h"

TInputKind KindOfInput(const std::string& Path, uint8_t& FormatIndex)
{
    FormatIndex = UnknownFormatIndex;
    // Bytes taken from a pipe would be missing for the engine: a pipe holds an image.
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode))
        return TInputKind::Image;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> File(std::fopen(Path.c_str(), "rb"),
                                                        &std::fclose);
    // A file that cannot be opened is left to the engine, which says why.
    if (!File)
        return TInputKind::Image;
    uint8_t Start[ImageHeaderSize];
    const size_t Got = std::fread(Start, 1, sizeof Start, File.get());
    if (ParseImageHeader(Start, Got))
        return TInputKind::Image;
    File.reset();
    if (IsForeignImage(Path))
        return TInputKind::Foreign;
    FormatIndex = FormatIndexOfDumpSize(FileSize(Path), true);
    return FormatIndex == UnknownFormatIndex ? TInputKind::Neither : TInputKind::RawDump;
}

std::string NeitherImageNorDump(const std::string& Path)
{
    return Path + ": neither a Marrowtide image (it has no codec's tag) nor a raw dump of a "
                  "diskette size (" + std::to_string(FileSize(Path)) + " bytes)";
}
