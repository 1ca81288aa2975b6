#include "cli/ConsolePort.h"

#include <unistd.h>

#include <stdexcept>

#include "cli/Console.h"
#include "cli/Interrupts.h"

namespace {

// The window's line breaks ("\r\n", "\r") as a terminal's.
std::string Lines(const std::string& Text)
{
    std::string Result;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r') {
            Result += '\n';
            if (i + 1 < Text.size() && Text[i + 1] == '\n')
                ++i;
        } else {
            Result += Text[i];
        }
    }
    return Result;
}

std::string Trimmed(const std::string& Text)
{
    const size_t First = Text.find_first_not_of(' ');
    if (First == std::string::npos)
        return "";
    return Text.substr(First, Text.find_last_not_of(' ') - First + 1);
}

std::string Indented(const std::string& Detail)
{
    std::string Result;
    size_t Start = 0;
    const std::string Text = Lines(Detail);
    while (Start <= Text.size()) {
        size_t End = Text.find('\n', Start);
        if (End == std::string::npos)
            End = Text.size();
        if (End > Start)
            Result += (Result.empty() ? "  " : "\n  ") + Text.substr(Start, End - Start);
        Start = End + 1;
    }
    return Result;
}

// Ctrl-C during the engine's work: the engine unwinds and leaves no output behind.
class EInterrupted : public std::runtime_error {
public:
    EInterrupted() : std::runtime_error("Interrupted.") {}
};

}  // namespace

TConsolePort::TConsolePort(char Drive, TConsoleAnswers Answers, std::ostream& Out,
                           std::ostream& Err)
    : Drive(Drive), Answers(Answers), Out(Out), Err(Err),
      Bar(stderr, ::isatty(STDERR_FILENO) == 1)
{
}

void TConsolePort::Problem(const std::string& Text)
{
    Bar.Clear();
    Out.flush();
    Err << Lines(NameFiles ? NameFiles(Text) : Text) << "\n";
    Err.flush();
}

void TConsolePort::Note(const std::string& Text)
{
    Bar.Clear();
    if (!Answers.Quiet)
        Out << Lines(NameFiles ? NameFiles(Text) : Text) << "\n" << std::flush;
}

void TConsolePort::SetText(TLabel Label, const std::string& Text)
{
    // The progress messages; the status line only repeats them, the path is the user's own.
    if (Label != TLabel::Messages)
        return;
    const std::string Message = Trimmed(Text);
    if (Message.empty() || Message == Messages)
        return;
    Messages = Message;
    Note(Message);
}

void TConsolePort::SetGaugeProgress(int Progress)
{
    GaugePosition = std::max(0, std::min(Progress, GaugeMaximum));
    if (GaugeShown)
        Bar.Show(GaugePosition, GaugeMaximum,
                 "track " + std::to_string(GaugePosition) + "/" + std::to_string(GaugeMaximum));
}

void TConsolePort::SetGaugeShown(bool Shown)
{
    GaugeShown = Shown;
    if (Shown)
        SetGaugeProgress(GaugePosition);
    else
        Bar.Clear();
}

void TConsolePort::SetCompressorShown(bool Shown)
{
    if (!Shown)
        Bar.Clear();
}

void TConsolePort::ProcessMessages()
{
    if (Interrupted())
        throw EInterrupted();
}

void TConsolePort::ShowBytes(int64_t Done, int64_t Total)
{
    Bar.Show(Done, Total, std::to_string(Done / 1024) + "/" + std::to_string(Total / 1024) + " KB");
}

bool TConsolePort::SaveDialog(TFileDialog& Dialog)
{
    Dialog.FileName = ChooseImage ? ChooseImage(Dialog.FilterIndex - 1) : "";
    return !Dialog.FileName.empty();
}

bool TConsolePort::OpenDialog(TFileDialog& Dialog)
{
    return SaveDialog(Dialog);
}

TModalResult TConsolePort::ShowConvertDialog(const std::string& Heading,
                                             const std::vector<std::string>& Lines)
{
    if (Answers.Convert)
        return TModalResult::OK;
    std::string Text = Heading;
    for (const std::string& Line : Lines)
        Text += Line.empty() ? "\n" : "\n  " + Line;
    Problem(Text);
    Problem("The diskette was left as it was; give --convert to convert it and write the image.");
    Stopped = true;
    return TModalResult::Cancel;
}

bool TConsolePort::Ask(const std::string& Question, const std::string& Keys, bool YesNo)
{
    Bar.Clear();
    Out.flush();
    for (;;) {
        Err << Lines(Question) << " " << Keys << " " << std::flush;
        std::string Line;
        if (ReadTypedLine(-1, Line) != TTyped::Line) {
            Err << "\n";
            return false;
        }
        const std::string Answer = Trimmed(Line);
        if (!YesNo)
            return Answer != "q" && Answer != "Q";
        if (Answer == "y" || Answer == "Y" || Answer == "yes")
            return true;
        if (Answer == "n" || Answer == "N" || Answer == "no" || Answer == "q")
            return false;
    }
}

TModalResult TConsolePort::AnswerInsert(const std::string& Text, TMsgButtons Buttons)
{
    const TModalResult Go = Buttons == TMsgButtons::YesNo ? TModalResult::Yes : TModalResult::OK;
    if (InsertAnswered || Answers.Yes)
        return Go;
    if (Answers.Terminal && Ask(Text, "[Enter to go on, q to stop]", false))
        return Go;
    if (!Answers.Terminal)
        Problem(Text + "\nStopped: there is no terminal to answer on; give -y when the diskette "
                       "is in the drive.");
    Stopped = true;
    return Buttons == TMsgButtons::YesNo ? TModalResult::No : TModalResult::Cancel;
}

TModalResult TConsolePort::AnswerQuestion(const std::string& Text, TQuestion Kind)
{
    const bool Overwrite = Kind == TQuestion::Overwrite;
    if (Overwrite && Answers.Force)
        return TModalResult::Yes;
    if (Answers.Terminal && Ask(Text, "[y/n]", true))
        return TModalResult::Yes;
    if (!Answers.Terminal)
        Problem(Text + (Overwrite ? "\nNo: give -f to overwrite." : "\nNo: there is no terminal "
                                                                    "to answer on."));
    // Detection's two questions: no volume found, or none of a known size.
    const bool NoDisk = Text.starts_with("Can't find disk.") ||
                        Text.starts_with("The disk is the wrong capacity");
    if (NoDisk && !NoDiskHint.empty())
        Problem(NoDiskHint);
    Stopped = true;
    return TModalResult::No;
}

TModalResult TConsolePort::MessageBox(const std::string& Text, const std::string&,
                                      TMsgButtons Buttons, TQuestion Kind)
{
    switch (Kind) {
    case TQuestion::Report:
    case TQuestion::CloseGuard:
        Problem(Text);
        return TModalResult::OK;
    case TQuestion::Insert:
        return AnswerInsert(Text, Buttons);
    case TQuestion::Reinsert:
        return AnswerReinsert(Text);
    default:
        return AnswerQuestion(Text, Kind);
    }
}

TModalResult TConsolePort::AnswerReinsert(const std::string& Text)
{
    Note(Text);
    // "Press OK when done": the user acts on the diskette first.
    if (Answers.Terminal && !Interrupted())
        Ask("", "[Enter when done]", false);
    return TModalResult::OK;
}

TModalResult TConsolePort::MessageDlg(const std::string& Text, TMsgDlgType, TMsgButtons Buttons,
                                      const std::string& Detail, TQuestion Kind)
{
    if (Kind != TQuestion::Report)
        return MessageBox(Text, "", Buttons, Kind);
    if (!Interrupted())
        Problem(Text + (Detail.empty() ? "" : "\n" + Indented(Detail)));
    return TModalResult::OK;
}

void TConsolePort::ShowMessage(const std::string& Text)
{
    Problem(Text);
}

void TConsolePort::ShowErrorBox(const std::string& Message)
{
    // An interrupted engine says so itself, later and once.
    if (!Interrupted())
        Problem(Message);
}
