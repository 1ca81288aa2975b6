// The program-wide values: one object, owned by the main window, passed by reference.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "compress/LZRW1.h"

// What a successful helper run goes on with.
enum class TCurrentOperation { None = 0, MakingImage = 1, MakingDisk = 2, Verifying = 3 };

// The outcome of media detection.
enum class TMediaRetryState : uint8_t { Recognised = 0, TryAgain = 1, GaveUp = 2 };

// How the inserted diskette's format relates to the image's.
enum class TConversionCase : uint8_t {
    Both288 = 0, Both144 = 1, Both120 = 2, Both720 = 3, Both360 = 4,  // the format index
    DisketteLarger = 5,   // a conversion is offered
    DisketteSmaller = 6,  // or unknown: a warning, and the conversion still offered
    BothAdded = 7,        // both of one format the window does not know (the console tool's)
};

// One diskette format, filled from the format table and the drive choice.
struct TGeometry {
    int32_t Heads = 0;
    int32_t Tracks = 0;
    int32_t SectorsPerTrack = 0;
    int32_t TotalBytes = 0;
    std::string TracksText;
    std::string SectorsText;
    std::string DriveLetter;
    uint8_t FormatIndex = 5;
    std::string FormatName;
};

struct TProgramState {
    std::string ProgramDir;          // the executable's folder, with its separator
    std::string WorkDir;             // this program's private working folder, with its separator
    std::vector<std::string> Parameters;
    int StartedWithFile = 0;         // 1 with at least one parameter
    bool Windows5OrLater = true;
    std::string SelectedDrive = "A";
    TCurrentOperation CurrentOperation = TCurrentOperation::None;
    bool ReadingDisk = false;
    std::string ImagePath;
    std::string LastFolder;
    // Detection keeps its last results between commands; a detection that finds no volume
    // leaves DiskGeometry as it was.
    TMediaRetryState MediaRetryState = TMediaRetryState::Recognised;
    TGeometry DiskGeometry;
    TGeometry ImageGeometry;
    std::string ImageTracksText = "80 ";
    std::string ImageSectorsText = "18 ";
    std::string DiskSectorsText = "18 ";
    TConversionCase ConversionCase = TConversionCase::Both288;
    // The console tool's read --format: detection takes this format index without measuring
    // the diskette (a damaged, blank or foreign boot sector); -1 measures as usual.
    int NamedFormat = -1;
    // The console tool takes every format of the table (recognised from the boot sector where
    // the volume size tells none) and writes onto a diskette without a usable boot sector whose
    // medium fits; the window keeps to its five formats and their detection.
    bool AllFormats = false;
    int DefaultFileMode = 2;         // read and write, until the first progress poll
    // How Make Image packs the dump.
    TCompressMode CompressMode = TCompressMode::Good;
    // From 0 on, Make Image has the helper rescue what it can with this many retries of a bad
    // sector, and leave a map of the rest beside the dump (the console tool's --rescue).
    int RescueRetries = -1;
    pid_t HelperPid = -1;            // the last helper started, while it may run
    // The program is ending (its window was closed while the engine worked): a workflow that
    // gets control back from the engine goes no further.
    bool Terminating = false;

    // The working folder was set up. Without it nothing may be written or run: an empty
    // WorkDir would put the exchange files at the root and the helper in the current folder.
    bool WorkDirReady() const { return !WorkDir.empty() && WorkDir.front() == '/'; }
};
