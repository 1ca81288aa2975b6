// The program-wide values: one object, owned by the main window, passed by reference.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct TProgramState {
    std::string ProgramDir;          // the executable's folder, with its separator
    std::string WorkDir;             // this program's private working folder, with its separator
    std::vector<std::string> Parameters;
    int StartedWithFile = 0;         // 1 with at least one parameter
    bool Windows5OrLater = true;
    std::string SelectedDrive = "A";
    int CurrentOperation = 0;        // 1 making an image, 2 making a disk
    bool ReadingDisk = false;
    std::string ImagePath;
    std::string LastFolder;
    uint8_t MediaRetryState = 0;
    std::string ImageTracksText = "80 ";
    std::string ImageSectorsText = "18 ";
    std::string DiskSectorsText = "18 ";
    int ConversionCase = 0;
    int DefaultFileMode = 2;         // read and write, until the first progress poll
    pid_t HelperPid = -1;            // the last helper started, while it may run
    // The program is ending (its window was closed while the engine worked): a workflow that
    // gets control back from the engine goes no further.
    bool Terminating = false;

    // The working folder was set up. Without it nothing may be written or run: an empty
    // WorkDir would put the exchange files at the root and the helper in the current folder.
    bool WorkDirReady() const { return !WorkDir.empty() && WorkDir.front() == '/'; }
};
