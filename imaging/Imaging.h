// The disk imaging workflows: formats and media detection, the helper runs and their pollers,
// Make Image, Make Disk and format conversion. They own the logic and reach the window only
// through the port; what they decide is kept in the program-wide state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "compress/LZRW1.h"
#include "imaging/Port.h"
#include "imaging/ProgramState.h"
#include "core/FormatTable.h"

// A text that is no whole number: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TImaging : public TImagingCommands {
public:
    // The engine reports through the port's compressor panel.
    TImaging(TProgramState& State, TImagingPort& Port);
    ~TImaging() override;

    void btnMakeImageClick() override;
    void btnMakeDiskClick() override;
    void StartFromCommandLine() override;
    // Reads the diskette and compares it, sector by sector, with the dump of State.ImagePath.
    void VerifyDiskette();
    // The pollers of the read or write run and of the conversion run.
    void Timer1Timer() override;
    void Timer3Timer() override;

private:
    // Formats and media detection (Geometry.cpp).
    void FillGeometry(TGeometry& Geometry);
    void DetectMedia();
    // Detection's outcome for a recognised format: DiskGeometry's index, the sectors text and
    // the gauge maximum (FillGeometry follows).
    void Recognise(uint8_t FormatIndex);
    // Detection beyond the capacity windows, for AllFormats (WideDetection.cpp). The drive
    // detection measures (0 for none).
    char DetectionDrive() const;
    // The format the boot sector's layout names, where it decides over the capacity's.
    uint8_t FormatOfBootSector(uint8_t ByCapacity) const;
    // A diskette without a usable boot sector, for writing: recognised as the image's format
    // when its medium has the image's size, else refused with what it is. False when there is
    // no medium at all (the usual question follows).
    bool DetectBlankDiskette();
    // A format the workflows take: the window's five, or every row with AllFormats.
    bool KnownFormat(uint8_t FormatIndex) const { return IsKnownFormat(FormatIndex, State.AllFormats); }

    // Helper runs (Runs.cpp).
    bool LaunchHelper(const std::string& Parameters);
    // The working folder is set up; when not, says so and gives false: the transfer commands
    // then do nothing rather than use another folder.
    bool WorkDirReady();
    // The start of Make Image, Make Disk and Verify: nothing without a working folder (false);
    // else the operation is set, reading the diskette for all but Make Disk.
    bool BeginCommand(TCurrentOperation Operation);
    void DisableCommands();
    void EnableCommands();
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
    // What a poll tick found: the run still going (its progress shown, counted from
    // ProgressBase), or ended well or badly. A tick that comes inside the nested loop of a
    // message an earlier tick opened (Busy set) waits for it to close: Waiting. Qt holds back
    // a timer whose handler is still running, but setting Timer1's interval at each tick starts
    // it anew, and the new timer does tick inside that loop.
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

    // Make Image (MakeImage.cpp).
    void MakeImage();
    // The insert prompt, then detection until a format is recognised; false when the user
    // stopped, the diskette has no known format, or no drive is chosen (said so).
    bool InsertAndDetect();
    // The read run of the detected diskette into "temp.del".
    void StartReadRun(const std::string& MessagesText);
    // False when the engine failed: the error is shown and the window is idle again.
    bool CompressImage();
    void LoadLastFolder();
    // The save or open dialog for an image, in the last folder used, offering the name chosen
    // the time before (Offered, which then holds the new choice); false when the user cancels.
    bool ChooseImageFile(TFileDialog& Dialog, bool Saving, std::string& Offered);
    void SaveLastPath(const std::string& Path);
    // An engine error ends its step: the message in an error box, the window idle again.
    void EngineFailed(const std::string& Message);

    // Make Disk (MakeDisk.cpp).
    void StartMakeDisk();
    void MakeDiskFromImage();
    void CompareFormats();
    // The image decompressed into Dump (a file in WorkDir). False when the engine failed: the
    // error is shown and the window is idle again.
    bool DecompressImage(const std::string& Dump);
    void StartWriteRun();

    // Verification (Verify.cpp): the dump read from the diskette against the image's; true when
    // they agree. The differences are reported through the port.
    bool CompareWithImage();
    // The dumps of a run, gone when it ends however it ends.
    void RemoveDumps();

    // Format conversion (Conversion.cpp).
    void OfferConversion();
    void StartConversionRun();

    TProgramState& State;
    TImagingPort& Port;
    std::unique_ptr<Tlzrw1> Engine;
    std::string SaveDialogFileName;  // the save dialog offers the name chosen last time
    bool ReplaceImage = false;       // the overwrite question was answered Yes
    std::string OpenDialogFileName;  // the open dialog keeps its last file and filter
    int OpenDialogFilterIndex = 1;
    bool PollerBusy = false;          // a Timer1 tick's message is open
    bool ConversionPollBusy = false;  // a Timer3 tick's message is open
};

// The format whose capacity window holds the size reported for a volume (0 to 4), or the
// unknown format 5 for any other size.
uint8_t FormatIndexOfCapacity(int64_t Capacity);

// How the diskette found relates to an image whose dump is DumpSize bytes: the same format,
// a diskette of larger capacity, or one of smaller capacity (an unknown format on either side
// counts as smaller). With AllFormats the added formats take part, compared by their media.
TConversionCase ClassifyFormats(int64_t DumpSize, uint8_t DiskFormatIndex, bool AllFormats = false);

class TWorkFolder;
// The running program's own working folder (State.WorkDir) with the helper copied into it; a
// refused per-user folder and a helper that cannot be copied are told through the port. Throws
// EAPIException when no private folder can be made.
std::unique_ptr<TWorkFolder> SetUpWorkFolder(TProgramState& State, TImagingPort& Port);
// The start the window and the console tool share: the system-version flag, then the working
// folder as SetUpWorkFolder makes it.
std::unique_ptr<TWorkFolder> SetUpProgram(TProgramState& State, TImagingPort& Port);

// The error boundary of a command, a tick or a start-up step: what the step lets through goes to
// Report (the window's error box, a line on the terminal), and the program goes on.
void Guarded(const std::function<void()>& Step,
             const std::function<void(const std::exception&)>& Report);

// The sectors marked in Marked (one flag per 512 bytes of a dump) as "track/side/sector" ranges
// in dump order, counted with the geometry of format FormatIndex.
std::vector<std::string> SectorRanges(const std::vector<bool>& Marked, uint8_t FormatIndex);

// Sectors where two dumps of one format differ, as "track/side/sector" ranges in dump order
// ("3/0/4", "12/1/1-13/0/18"); the sectors are counted with the format's geometry.
std::vector<std::string> DifferingSectors(const std::vector<uint8_t>& Disk,
                                          const std::vector<uint8_t>& Image, uint8_t FormatIndex);

// A decimal whole number of 32 bits, leading blanks and a plus sign allowed, as the runtime's
// conversion takes it; none when Text holds anything else.
std::optional<int32_t> WholeNumber(const std::string& Text);

// "/home/ann/disks/boot.144" -> "/.../boot.144"; a Windows path keeps its drive part.
std::string ShortenPath(const std::string& Path);
