// The main window: its controls, menus and drive choice, creation and exit, and the imaging
// port through which the workflows reach the screen.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

#include "imaging/Port.h"
#include "imaging/ProgramState.h"
#include "imaging/Settings.h"

namespace Ui {
class FrmMain;
}
class TAbout;
class TfrmConvert;
class TWorkFolder;
class EDamagedHive;

class TFrmMain : public QMainWindow, public TImagingPort {
    Q_OBJECT
public:
    explicit TFrmMain(TProgramState& State, QWidget* Parent = nullptr);
    ~TFrmMain() override;

    // The workflows behind the commands; set before the window is shown.
    void SetCommands(TImagingCommands* Commands) { ImagingCommands = Commands; }
    void SetAboutWindow(TAbout* Window) { AboutWindow = Window; }
    void SetConvertDialog(TfrmConvert* Dialog) { ConvertDialog = Dialog; }

    // The creation steps: the working folder and the helper copy first, then the others, where
    // an error skips the rest and is shown in the error box.
    void FormCreate();

    // Handlers, by control and event.
    void btnMakeImageClick();
    void btnMakeDiskClick();
    void btnExitClick();
    void HintsOnOffClick();
    void ShowHints();
    void HideHints();
    void IgnoreMediaClick();
    void MenuDriveAClick();
    void MenuDriveBClick();
    void DiscoverDrives();
    void Help2Click();
    void About1Click();
    void tmrCommandTimer();
    void CleanUpAndQuit();

    // Runs a handler; an exception it lets through goes to the error box, with its details
    // where the registry gives them. A settings file that cannot be read comes with the offer
    // to move it aside.
    void Guarded(const std::function<void()>& Handler);

    TOptionMarks Marks() const;
    Ui::FrmMain& Controls() { return *Form; }
    QTimer& Timer(TTimer Which);

    // TImagingPort
    void SetText(TLabel Label, const std::string& Text) override;
    void SetPathHint(const std::string& Hint) override;
    void SetGaugeMax(int Max) override;
    int GaugeMax() const override;
    void SetGaugeProgress(int Progress) override;
    int GaugeProgress() const override;
    void SetGaugeShown(bool Shown) override;
    void SetAnimationShown(TAnimation Animation, bool Shown) override;
    void SetAnimationActive(TAnimation Animation, bool Active) override;
    void SetFloppyShown(bool Shown) override;
    void SetCommandEnabled(TCommand Command, bool Enabled) override;
    bool DriveMenuChecked(char Letter) const override;
    bool DriveRadioChecked(char Letter) const override;
    bool IgnoreMediaChecked() const override;
    void SetTimerEnabled(TTimer Timer, bool Enabled) override;
    bool TimerEnabled(TTimer Timer) const override;
    void SetTimerInterval(TTimer Timer, int Milliseconds) override;
    TLzrw1Host& CompressorHost() override;
    void SetCompressorShown(bool Shown) override;
    bool SaveDialog(TFileDialog& Dialog) override;
    bool OpenDialog(TFileDialog& Dialog) override;
    TModalResult ShowConvertDialog(const std::string& Heading,
                                   const std::vector<std::string>& Lines) override;
    TModalResult MessageBox(const std::string& Text, const std::string& Caption,
                            TMsgButtons Buttons, TQuestion Kind) override;
    TModalResult MessageDlg(const std::string& Text, TMsgDlgType Type, TMsgButtons Buttons,
                            const std::string& Detail = {},
                            TQuestion Kind = TQuestion::Report) override;
    void ShowMessage(const std::string& Text) override;
    void ShowErrorBox(const std::string& Message) override;
    void Terminate() override;

signals:
    // The message loop should end.
    void Quit();

protected:
    void closeEvent(QCloseEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    bool FileDialog(TFileDialog& Dialog, bool Save);
    // The Path label: its text cut to fit left of the drive box, its tooltip the hint or, for a
    // cut text, the whole path.
    void ShowPath(const std::string& Text);
    void UpdatePathTip();
    // The settings step of creation: PrepareSettings, its check marks and the hint display.
    void LoadSettings();
    // The error box for what a step let through, with the registry's details.
    void ShowFailure(const std::exception& E);
    // Asks whether to move the damaged settings file aside; on Yes moves it, says where it
    // went and starts new settings from the defaults (true then).
    bool OfferNewSettings(const EDamagedHive& Damaged);

    TProgramState& State;
    std::unique_ptr<TWorkFolder> WorkFolder;
    std::unique_ptr<Ui::FrmMain> Form;
    QTimer Timer1, Timer3, tmrCommand;
    TImagingCommands* ImagingCommands = nullptr;
    TAbout* AboutWindow = nullptr;
    TfrmConvert* ConvertDialog = nullptr;
    std::string PathHint = "Path to image file on the hard drive or network.";
    bool HintsShown = true;
    bool PathCutShort = false;
    std::string WholePath;
    bool Quitting = false;
};
