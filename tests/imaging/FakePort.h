// A scripted window for the workflow tests: it answers questions from a script, records every
// text and dialog in order, and keeps the state the workflows set (labels, gauge, commands,
// timers, animations). Timers never fire by themselves: a test calls the tick handlers.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "compress/LZRW1.h"
#include "imaging/Port.h"

namespace imagingtest {

// What one shown dialog was.
struct TShown {
    std::string Kind;     // "MessageBox", "MessageDlg", "ShowMessage", "SaveDialog",
                          // "OpenDialog", "ConvertDialog", "ErrorBox"
    std::string Text;     // message text, or the dialog's heading
    std::string Caption;  // MessageBox caption; MessageDlg: "Warning"/"Error"/"Information"
    TMsgButtons Buttons = TMsgButtons::OK;
    TFileDialog Dialog;   // file dialogs: the settings they were shown with
    std::vector<std::string> Lines;  // conversion dialog
    std::string Detail;   // MessageDlg: the text behind "Show Details..."
    TQuestion Question = TQuestion::Report;  // what a question asks
};

class TFakeHost : public TLzrw1Host {
public:
    bool Shown = false;
    std::vector<std::string> Captions;
    int Repaints = 0, Pumps = 0;
    // Runs at each pump, as the window's pending events would while the engine works.
    std::function<void()> WhilePumping;
    bool Visible() const override { return Shown; }
    void SetCaption(const std::string& Caption) override { Captions.push_back(Caption); }
    void Repaint() override { ++Repaints; }
    void ProcessMessages() override
    {
        ++Pumps;
        if (WhilePumping)
            WhilePumping();
    }
};

class TFakePort : public TImagingPort {
public:
    // Answers, taken in order; a question with no answer left fails the test by throwing.
    std::deque<TModalResult> Answers;
    // File dialog answers: the chosen path, or "" for Cancel.
    std::deque<std::string> FileAnswers;

    std::vector<TShown> Shown;
    // Runs while each dialog is open, before it is answered: the user changes the world.
    std::function<void(const TShown&)> WhileShown;
    std::map<TLabel, std::string> Labels;
    std::string PathHint;
    int GaugeMaximum = 80, Gauge = 0;
    bool GaugeVisible = false;
    std::map<TAnimation, bool> AnimationVisible{{TAnimation::MakeImage, false},
                                                {TAnimation::MakeDisk, false}};
    std::map<TAnimation, bool> AnimationActive{{TAnimation::MakeImage, false},
                                               {TAnimation::MakeDisk, false}};
    bool FloppyVisible = true;
    std::map<TCommand, bool> Enabled{{TCommand::MakeImageButton, true}, {TCommand::ExitButton, true},
                                     {TCommand::MakeDiskButton, true}, {TCommand::MakeDiskMenu, true},
                                     {TCommand::SaveDiskMenu, true}};
    std::vector<std::pair<TCommand, bool>> CommandChanges;
    bool MenuA = true, MenuB = false, RadioA = false, RadioB = false;
    bool IgnoreMedia = false;
    std::map<TTimer, bool> Timers{{TTimer::Timer1, false}, {TTimer::Timer3, false},
                                  {TTimer::Command, false}};
    std::map<TTimer, int> Intervals{{TTimer::Timer1, 1000}, {TTimer::Timer3, 1000},
                                    {TTimer::Command, 50}};
    TFakeHost Host;
    bool CompressorVisible = false;
    bool Terminated = false;

    void SetText(TLabel Label, const std::string& Text) override { Labels[Label] = Text; }
    // What a label shows now.
    std::string Text(TLabel Label) const
    {
        auto Found = Labels.find(Label);
        return Found == Labels.end() ? "" : Found->second;
    }
    void SetPathHint(const std::string& Hint) override { PathHint = Hint; }
    void SetGaugeMax(int Max) override { GaugeMaximum = Max; }
    int GaugeMax() const override { return GaugeMaximum; }
    void SetGaugeProgress(int Progress) override
    {
        Gauge = Progress < 0 ? 0 : Progress > GaugeMaximum ? GaugeMaximum : Progress;
    }
    int GaugeProgress() const override { return Gauge; }
    void SetGaugeShown(bool Visible) override { GaugeVisible = Visible; }
    void SetAnimationShown(TAnimation Animation, bool Visible) override
    {
        AnimationVisible[Animation] = Visible;
    }
    void SetAnimationActive(TAnimation Animation, bool Active) override
    {
        AnimationActive[Animation] = Active;
    }
    void SetFloppyShown(bool Visible) override { FloppyVisible = Visible; }
    void SetCommandEnabled(TCommand Command, bool On) override
    {
        Enabled[Command] = On;
        CommandChanges.emplace_back(Command, On);
    }
    bool AllCommandsEnabled(bool On) const
    {
        for (const auto& [Command, State] : Enabled)
            if (State != On)
                return false;
        return true;
    }
    bool DriveMenuChecked(char Letter) const override { return Letter == 'B' ? MenuB : MenuA; }
    bool DriveRadioChecked(char Letter) const override { return Letter == 'B' ? RadioB : RadioA; }
    bool IgnoreMediaChecked() const override { return IgnoreMedia; }
    void SetTimerEnabled(TTimer Timer, bool On) override { Timers[Timer] = On; }
    bool TimerEnabled(TTimer Timer) const override { return Timers.at(Timer); }
    void SetTimerInterval(TTimer Timer, int Milliseconds) override { Intervals[Timer] = Milliseconds; }
    TLzrw1Host& CompressorHost() override { return Host; }
    void SetCompressorShown(bool Visible) override
    {
        CompressorVisible = Visible;
        Host.Shown = Visible;
    }

    bool SaveDialog(TFileDialog& Dialog) override { return FileDialog("SaveDialog", Dialog); }
    bool OpenDialog(TFileDialog& Dialog) override { return FileDialog("OpenDialog", Dialog); }
    TModalResult ShowConvertDialog(const std::string& Heading,
                                   const std::vector<std::string>& Lines) override
    {
        TShown Entry;
        Entry.Kind = "ConvertDialog";
        Entry.Text = Heading;
        Entry.Lines = Lines;
        Record(Entry);
        return NextAnswer();
    }
    TModalResult MessageBox(const std::string& Text, const std::string& Caption,
                            TMsgButtons Buttons, TQuestion Kind) override
    {
        Record({"MessageBox", Text, Caption, Buttons, {}, {}, {}, Kind});
        return NextAnswer();
    }
    TModalResult MessageDlg(const std::string& Text, TMsgDlgType Type, TMsgButtons Buttons,
                            const std::string& Detail = {},
                            TQuestion Kind = TQuestion::Report) override
    {
        const char* Caption = Type == TMsgDlgType::Warning       ? "Warning"
                              : Type == TMsgDlgType::Error        ? "Error"
                              : Type == TMsgDlgType::Information ? "Information"
                                                                  : "Confirm";
        Record({"MessageDlg", Text, Caption, Buttons, {}, {}, Detail, Kind});
        // Reports have one OK button: they need no script.
        return Buttons == TMsgButtons::OK ? TModalResult::OK : NextAnswer();
    }
    void ShowMessage(const std::string& Text) override
    {
        Record({"ShowMessage", Text, "", TMsgButtons::OK, {}, {}, {}});
    }
    // Recorded as the message itself; the window adds the full stop.
    void ShowErrorBox(const std::string& Message) override
    {
        Record({"ErrorBox", Message, "Marrowtide", TMsgButtons::OK, {}, {}, {}});
    }
    void Terminate() override { Terminated = true; }

    // The texts of every dialog shown so far, in order.
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> All;
        for (const TShown& Entry : Shown)
            All.push_back(Entry.Text);
        return All;
    }

private:
    void Record(const TShown& Entry)
    {
        Shown.push_back(Entry);
        if (WhileShown)
            WhileShown(Entry);
    }
    TModalResult NextAnswer()
    {
        if (Answers.empty())
            throw std::logic_error("the fake window has no answer left for: " + Shown.back().Text);
        TModalResult Answer = Answers.front();
        Answers.pop_front();
        return Answer;
    }
    bool FileDialog(const char* Kind, TFileDialog& Dialog)
    {
        TShown Entry;
        Entry.Kind = Kind;
        Entry.Dialog = Dialog;
        Record(Entry);
        if (FileAnswers.empty())
            throw std::logic_error(std::string("the fake window has no file for the ") + Kind);
        std::string Chosen = FileAnswers.front();
        FileAnswers.pop_front();
        if (Chosen.empty())
            return false;
        Dialog.FileName = Chosen;
        return true;
    }
};

}  // namespace imagingtest
