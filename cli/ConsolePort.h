// The workflows' port on a terminal: messages are printed once (problems on standard error),
// questions are asked on the terminal or answered the safe way, the gauge and the engine's
// progress become a bar on standard error, and the timers are ticks the caller's loop delivers.
#pragma once

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

#include "cli/Progress.h"
#include "compress/LZRW1.h"
#include "imaging/Port.h"

// How the questions are answered.
struct TConsoleAnswers {
    bool Terminal = false;     // someone can be asked
    bool Yes = false;          // the diskette is in: go on at the insert prompts
    bool Force = false;        // overwrite an existing image
    bool Convert = false;      // convert a diskette of another format
    bool IgnoreMedia = false;  // the saved "No Media Warnings"
    bool Quiet = false;        // no progress messages on standard output
};

class TConsolePort : public TImagingPort, private TLzrw1Host {
public:
    TConsolePort(char Drive, TConsoleAnswers Answers, std::ostream& Out, std::ostream& Err);

    // The image file a save or open dialog would give for the format of the dialog's filter
    // index (0 to 4); "" stops the command.
    std::function<std::string(int FormatIndex)> ChooseImage;

    // The run ended well (the workflow ends the "message loop").
    bool Done() const { return Ended; }
    void Restart() { Ended = false; Stopped = false; }
    // A question was answered "stop" (or could not be asked): the command was given up.
    bool GaveUp() const { return Stopped; }
    // A poll timer is on, and the interval its tick asks for.
    bool Ticking(TTimer Timer) const { return Timers[int(Timer)].Enabled; }
    int Interval(TTimer Timer) const { return Timers[int(Timer)].Interval; }
    // The existing image may be replaced without -f (a resume, which keeps all it holds).
    void AllowOverwrite() { Answers.Force = true; }
    // The insert prompts are answered by the caller's own wait (the box loop).
    bool InsertAnswered = false;
    // Told when the command stops because detection found no diskette it knows: which option
    // would go on.
    std::string NoDiskHint;
    // Gives the files in a text the names the user knows them by (a pipe, not its copy).
    std::function<std::string(const std::string&)> NameFiles;
    // Prints a line on standard error, the bar cleared first.
    void Problem(const std::string& Text);
    void Note(const std::string& Text);

    void SetText(TLabel Label, const std::string& Text) override;
    void SetPathHint(const std::string&) override {}
    void SetGaugeMax(int Max) override { GaugeMaximum = Max; }
    int GaugeMax() const override { return GaugeMaximum; }
    void SetGaugeProgress(int Progress) override;
    int GaugeProgress() const override { return GaugePosition; }
    void SetGaugeShown(bool Shown) override;
    void SetAnimationShown(TAnimation, bool) override {}
    void SetAnimationActive(TAnimation, bool) override {}
    void SetFloppyShown(bool) override {}
    void SetCommandEnabled(TCommand, bool) override {}
    bool DriveMenuChecked(char Letter) const override { return Letter == Drive; }
    bool DriveRadioChecked(char Letter) const override { return Letter == Drive; }
    bool IgnoreMediaChecked() const override { return Answers.IgnoreMedia; }
    void SetTimerEnabled(TTimer Timer, bool Enabled) override { Timers[int(Timer)].Enabled = Enabled; }
    bool TimerEnabled(TTimer Timer) const override { return Timers[int(Timer)].Enabled; }
    void SetTimerInterval(TTimer Timer, int Milliseconds) override
    {
        Timers[int(Timer)].Interval = Milliseconds;
    }
    TLzrw1Host& CompressorHost() override { return *this; }
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
    void Terminate() override { Ended = true; }

private:
    // The engine's panel: a bar of the dump's bytes; Ctrl-C ends the engine's work.
    bool Visible() const override { return Bar.Enabled(); }
    void SetCaption(const std::string&) override {}
    void Repaint() override {}
    void ProcessMessages() override;
    void ShowBytes(int64_t Done, int64_t Total) override;

    // A prompt on the terminal: true for Enter or "y", false for "q", "n", end of input or
    // Ctrl-C.
    bool Ask(const std::string& Question, const std::string& Keys, bool YesNo);
    TModalResult AnswerInsert(const std::string& Text, TMsgButtons Buttons);
    TModalResult AnswerQuestion(const std::string& Text, TQuestion Kind);
    TModalResult AnswerReinsert(const std::string& Text);

    struct TTimerState {
        bool Enabled = false;
        int Interval = 1000;
    };
    char Drive;
    TConsoleAnswers Answers;
    std::ostream& Out;
    std::ostream& Err;
    TProgressLine Bar;
    TTimerState Timers[3];
    int GaugeMaximum = 100;
    int GaugePosition = 0;
    bool GaugeShown = false;
    std::string Messages;  // the last progress message, printed once
    bool Ended = false;
    bool Stopped = false;
};
