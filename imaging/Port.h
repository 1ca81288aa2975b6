// What the workflows need of the main window, and nothing more: the window implements it with
// widgets, tests with a scripted fake, the console tool for a terminal.
#pragma once

#include <string>
#include <vector>

class TLzrw1Host;

// Message dialog kinds and button sets of the program's questions and reports.
enum class TMsgDlgType { Warning, Error, Information, Confirmation };
enum class TMsgButtons { OK, OKCancel, YesNo, YesNoCancel, RetryCancel };
// What a question asks, so that a port answers by its meaning and never by its buttons: a
// diskette to insert, an existing image to replace, another look for a missing diskette, a
// diskette of a capacity no format has, a diskette to eject and reinsert, a window that cannot
// close yet. A report is no question: it has one OK button.
enum class TQuestion { Report, Insert, Overwrite, Retry, WrongCapacity, Reinsert, CloseGuard };
// The answers, with the toolkit's numbers (the conversion dialog's buttons return them too).
enum class TModalResult { None = 0, OK = 1, Cancel = 2, Abort = 3, Retry = 4, Yes = 6, No = 7 };

// The five commands switched by the busy and idle states, in the order they are switched.
enum class TCommand { MakeImageButton, ExitButton, MakeDiskButton, MakeDiskMenu, SaveDiskMenu };
enum class TAnimation { MakeImage, MakeDisk };
enum class TTimer { Timer1, Timer3, Command };
enum class TLabel { Messages, Status, Path };

// A file dialog's settings for one showing, and the chosen file.
struct TFileDialog {
    std::string Filter;      // "Name|*.ext|Name|*.a;*.b"
    int FilterIndex = 1;     // 1-based
    std::string DefaultExt;
    std::string InitialDir;
    std::string FileName;    // in: offered; out: chosen
};

class TImagingPort {
public:
    virtual ~TImagingPort() = default;

    // The labels are for the user: the workflows never read them back.
    virtual void SetText(TLabel Label, const std::string& Text) = 0;
    virtual void SetPathHint(const std::string& Hint) = 0;

    virtual void SetGaugeMax(int Max) = 0;
    virtual int GaugeMax() const = 0;
    // Kept within 0 and the maximum.
    virtual void SetGaugeProgress(int Progress) = 0;
    virtual int GaugeProgress() const = 0;
    // Shown brought to the front; hidden sent to the back.
    virtual void SetGaugeShown(bool Shown) = 0;

    virtual void SetAnimationShown(TAnimation Animation, bool Shown) = 0;
    virtual void SetAnimationActive(TAnimation Animation, bool Active) = 0;
    virtual void SetFloppyShown(bool Shown) = 0;

    virtual void SetCommandEnabled(TCommand Command, bool Enabled) = 0;

    // The drive choice: the menu items "Disk A:"/"Disk B:" and the radio buttons "A:"/"B:".
    virtual bool DriveMenuChecked(char Letter) const = 0;
    virtual bool DriveRadioChecked(char Letter) const = 0;
    // "No Media Warnings".
    virtual bool IgnoreMediaChecked() const = 0;

    virtual void SetTimerEnabled(TTimer Timer, bool Enabled) = 0;
    virtual bool TimerEnabled(TTimer Timer) const = 0;
    virtual void SetTimerInterval(TTimer Timer, int Milliseconds) = 0;

    // The engine's panel: shown brought to the front, hidden sent to the back.
    virtual TLzrw1Host& CompressorHost() = 0;
    virtual void SetCompressorShown(bool Shown) = 0;

    // True when the user chose a file (Dialog.FileName holds it).
    virtual bool SaveDialog(TFileDialog& Dialog) = 0;
    virtual bool OpenDialog(TFileDialog& Dialog) = 0;

    // The conversion dialog: heading and lines, then its modal result (OK, Retry or Cancel).
    virtual TModalResult ShowConvertDialog(const std::string& Heading,
                                           const std::vector<std::string>& Lines) = 0;

    // A question with caption, button set and kind. The buttons are shown in the set's order
    // (OK, Cancel; Yes, No, Cancel), the first one the default.
    virtual TModalResult MessageBox(const std::string& Text, const std::string& Caption,
                                    TMsgButtons Buttons, TQuestion Kind) = 0;
    // A typed message dialog (caption from its type: "Warning", "Error", "Information"). A
    // Detail, when given, is shown on request beneath the fixed text ("Show Details..."). Kind
    // says what the user is asked to do before OK, when anything.
    virtual TModalResult MessageDlg(const std::string& Text, TMsgDlgType Type,
                                    TMsgButtons Buttons, const std::string& Detail = {},
                                    TQuestion Kind = TQuestion::Report) = 0;
    // A plain message with one OK button.
    virtual void ShowMessage(const std::string& Text) = 0;
    // The application's error box for an error a step reports as the program's own: the
    // message (with its full stop), the application's title, the error icon.
    virtual void ShowErrorBox(const std::string& Message) = 0;

    // Ends the message loop (a program started with a file, after its run).
    virtual void Terminate() = 0;
};

// The workflows' entry points, as the window's commands and timers call them.
class TImagingCommands {
public:
    virtual ~TImagingCommands() = default;
    virtual void btnMakeImageClick() = 0;
    virtual void btnMakeDiskClick() = 0;
    virtual void StartFromCommandLine() = 0;
    virtual void Timer1Timer() = 0;
    virtual void Timer3Timer() = 0;
};
