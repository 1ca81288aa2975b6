// The disk imaging workflows: formats and media detection, the helper runs and their pollers,
// Make Image, Make Disk and format conversion. They own the logic and the program-wide state
// and reach the window only through the port.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "compress/LZRW1.h"
#include "imaging/Port.h"
#include "imaging/ProgramState.h"

// A text that is no whole number: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

class TImaging : public TImagingCommands {
public:
    // The engine reports through the port's compressor panel.
    TImaging(TProgramState& State, TImagingPort& Port);
    ~TImaging() override;

    // Formats and media detection (Geometry.cpp).
    void FillGeometry(TGeometry& Geometry);
    void DetectMedia();
    // The format whose capacity window holds the size reported for a volume (0 to 4), or the
    // unknown format 5 for any other size.
    static uint8_t FormatIndexOfCapacity(int64_t Capacity);

    // Helper runs (Runs.cpp).
    bool LaunchHelper(const std::string& Parameters);
    // The working folder is set up; when not, says so and gives false: the transfer commands
    // then do nothing rather than use another folder.
    bool WorkDirReady();
    void DisableCommands();
    void EnableCommands();
    void Timer1Timer() override;
    // The common start of a run: commands disabled, "working.dat" emptied, the helper launched
    // with Parameters; on success the poll timer, Messages, Status, gauge, animation and Floppy
    // as a run shows them; on failure "Cannot execute Rastrel2" and the window back to idle.
    // True when the helper started.
    bool StartRun(const std::string& Parameters, TTimer PollTimer, TAnimation Animation,
                  const std::string& MessagesText);
    // One poll of "Status.dat" after "check.dat" appeared: default open mode 64, the first line
    // as an integer (EConvertError when it is none), "check.dat" deleted; an I/O error shows the
    // share-error message and gives false. Progress receives the number.
    bool ReadProgress(int& Progress);
    // "working.dat" is still there but the helper process has ended without removing it.
    bool HelperDied();
private:
    bool PollerBusy = false;  // a tick's message is open: later ticks wait for it
    // What a poll tick found: the run still going (its progress shown, counted from
    // ProgressBase), or ended well or badly. A tick that comes while an earlier tick's message
    // is open (Busy set) waits for it to close: Waiting.
    enum class TPoll { Waiting, Running, Failed, Ended };
    TPoll PollRun(bool& Busy, int ProgressBase);
    // Sets a busy flag for as long as it lives.
    struct THold {
        bool& Flag;
        explicit THold(bool& Flag) : Flag(Flag) { Flag = true; }
        ~THold() { Flag = false; }
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;
    };
    // Both animations stopped and hidden, the diskette picture shown.
    void ShowIdlePicture();
    // A failed run: its poll timer stopped, the window idle, and the fixed read or write failure
    // message with the helper's own reason as its detail.
    void ShowRunFailure(TTimer PollTimer, bool Reading);
    // The line the helper left in "error.dat", or what is known without it.
    std::string RunFailureReason() const;
public:

    // Make Image (MakeImage.cpp).
    void btnMakeImageClick() override;
    void MakeImage();
    void CompressImage();
    void LoadLastFolder();
    void SaveLastPath(const std::string& Path);
private:
    std::string SaveDialogFileName;  // the save dialog offers the name chosen last time
    // An engine error ends its step: the message in an error box, the window idle again.
    void EngineFailed(const std::string& Message);
public:

    // Make Disk (MakeDisk.cpp).
    void btnMakeDiskClick() override;
    void StartMakeDisk();
    void StartFromCommandLine() override;
    void MakeDiskFromImage();
    // The ConversionCase of an image whose dump is DumpSize bytes and the diskette found.
    static uint8_t ClassifyFormats(int64_t DumpSize, uint8_t DiskFormatIndex);
    void CompareFormats();
    // False when the engine failed: the error is shown and the window is idle again.
    bool DecompressImage();
    void StartWriteRun();
private:
    std::string OpenDialogFileName;  // the open dialog keeps its last file and filter
    int OpenDialogFilterIndex = 1;
public:

    // Format conversion (Conversion.cpp).
    void OfferConversion();
    void StartConversionRun();
    void Timer3Timer() override;
private:
    bool ConversionPollBusy = false;  // a tick's message is open: later ticks wait for it
public:

    TGeometry DiskGeometry;
    TGeometry ImageGeometry;
    Tlzrw1& Compressor() { return *Engine; }

private:
    TProgramState& State;
    TImagingPort& Port;
    std::unique_ptr<Tlzrw1> Engine;
};

// "/home/ann/disks/boot.144" -> "/.../boot.144"; a Windows path keeps its drive part.
std::string ShortenPath(const std::string& Path);

// The file's size in bytes, or 0 when it cannot be measured.
int64_t GetFileSizeOrZero(const std::string& Path);
