// The console tool's command line: what to do, on which files, with which options.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "compress/LZRW1.h"

enum class TCommandKind { Help, Pack, Unpack, Advise, Info, Drive, Format, Export, Version, Read, Write,
                          Verify, Ls, Extract, Mount, Catalog, Check };

struct TOptions {
    TCommandKind Command = TCommandKind::Help;
    TCompressMode Mode = TCompressMode::Good;
    int32_t Threshold = 40;
    bool Quiet = false;
    // pack, unpack, export and read may replace an existing output.
    bool Force = false;
    // -c: pack, unpack and export write their output to standard output.
    bool ToStdout = false;
    // info also prints the checksums of the dump the image holds.
    bool Hash = false;
    // unpack keeps a 360KB or 1.2MB dump at its recorded length, padding included.
    bool ExactSize = false;
    // info prints one JSON array for all its images.
    bool Json = false;
    // check: the DAT of the known dumps.
    std::string DatFile;
    // Set by -o: every input is written into this folder under a name made from its own.
    std::string OutputDir;
    bool HasOutputDir = false;
    std::vector<std::string> Inputs;
    // The second file of the two-file forms (pack RAW IMAGE, unpack IMAGE RAW, export IMAGE
    // ARCHIVE); catalog's DAT.
    std::string Output;
    // drive: list, or a letter with a new target (in Output) or --clear.
    bool DriveListing = false;
    bool DriveClear = false;
    char DriveLetter = 0;
    // format: the diskette format; the file is in Output. read --format: the diskette's format,
    // named by hand (-1: detected).
    int FormatIndex = -1;
    // read, write and verify: the drive is DriveLetter; read's IMAGE is in Output, write's and
    // verify's in Inputs.
    bool Yes = false;      // the diskette is in: no insert prompts
    bool Convert = false;  // write converts a diskette of another format
    std::string Each;      // read: a whole box, one image per diskette named by this pattern
    std::string LogFile;   // read --each: one CSV line per diskette
    // COMMAND --help: that command's part of the usage (the whole usage when empty).
    std::string HelpText;
    // read --rescue: keep what can be read, zeros and a map for the rest. A sector that fails
    // is read RescueRetries more times.
    bool Rescue = false;
    int RescueRetries = -1;  // -1: not given (DefaultRescueRetries)
    std::string MapFile;     // read --rescue --map: the map's name (default: IMAGE.map)
    // ls: deleted entries too. extract: the patterns of the files to write (none: all).
    bool Deleted = false;
    std::vector<std::string> Patterns;

};

// Five more reads of a failed sector, each after a head movement: a weak sector that can come
// back usually does within a few; more only wear a spot that crumbles and take time (about half
// a second each on a real drive, so a diskette with 50 bad sectors costs two minutes more).
constexpr int DefaultRescueRetries = 5;

// Bad usage: main prints the text (the full usage when it is empty) and exits with 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Args without the program name.
TOptions ParseArgs(const std::vector<std::string>& Args);

extern const char* const UsageText;
extern const char* const VersionText;
