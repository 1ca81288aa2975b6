#include "cli/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace {

size_t TerminalWidth(std::FILE* Out)
{
    winsize Size{};
    if (ioctl(fileno(Out), TIOCGWINSZ, &Size) == 0 && Size.ws_col >= 20)
        return Size.ws_col;
    return 80;
}

}  // namespace

std::string RenderProgressLine(int64_t Done, int64_t Total, const std::string& Label,
                               size_t Width)
{
    const int64_t Percent = Total > 0 ? std::clamp<int64_t>(Done * 100 / Total, 0, 100) : 0;
    const size_t Room = Width > 1 ? Width - 1 : 0;
    // The bar takes what is left after the percentage, up to 30 cells.
    const size_t BarCells = std::min<size_t>(30, Room > 9 ? Room - 9 : 0);
    const size_t Filled = BarCells * static_cast<size_t>(Percent) / 100;

    std::string Line = "[" + std::string(Filled, '#') + std::string(BarCells - Filled, '.') + "] ";
    std::string Number = std::to_string(Percent) + "%";
    Line += std::string(4 - std::min<size_t>(4, Number.size()), ' ') + Number;
    if (!Label.empty())
        Line += "  " + Label;
    if (Line.size() > Room)
        Line.resize(Room);
    return Line;
}

TProgressLine::TProgressLine(std::FILE* Out, bool Enabled)
    : Out(Out), On(Enabled), Width(Enabled ? TerminalWidth(Out) : 80)
{
}

void TProgressLine::Show(int64_t Done, int64_t Total, const std::string& Label)
{
    if (!On)
        return;
    const std::string Line = RenderProgressLine(Done, Total, Label, Width);
    if (Line == Shown)
        return;
    Shown = Line;
    std::fprintf(Out, "\r%s\033[K", Line.c_str());
    std::fflush(Out);
}

void TProgressLine::Clear()
{
    if (!On || Shown.empty())
        return;
    std::fputs("\r\033[K", Out);
    std::fflush(Out);
    Shown.clear();
}

TProgressBoard::TProgressBoard(std::vector<int64_t> Totals, std::string Label, std::FILE* Out,
                               bool Enabled)
    : Totals(std::move(Totals)), Label(std::move(Label)), Out(Out), On(Enabled),
      Width(Enabled ? TerminalWidth(Out) : 80)
{
    Dones.assign(this->Totals.size(), 0);
}

TProgressBoard::~TProgressBoard()
{
    Finish();
}

void TProgressBoard::Update(size_t Job, int64_t Done)
{
    if (!On || Job >= Dones.size())
        return;
    std::lock_guard Guard(Lock);
    Dones[Job] = std::min(Done, Totals[Job]);
    Draw();
}

void TProgressBoard::JobDone(size_t Job)
{
    if (!On || Job >= Dones.size())
        return;
    std::lock_guard Guard(Lock);
    Dones[Job] = Totals[Job];
    ++JobsDone;
    Draw();
}

void TProgressBoard::Draw()
{
    int64_t Done = 0;
    int64_t Total = 0;
    for (size_t i = 0; i < Totals.size(); ++i) {
        Done += Dones[i];
        Total += Totals[i];
    }
    std::string Text = Label;
    if (Totals.size() > 1)
        Text = std::to_string(JobsDone) + "/" + std::to_string(Totals.size()) + " files";
    std::string Line = RenderProgressLine(Done, Total, Text, Width);
    if (Finished || Line == Shown)
        return;
    Shown = Line;
    std::fprintf(Out, "\r%s\033[K", Line.c_str());
    std::fflush(Out);
}

void TProgressBoard::Finish()
{
    if (!On)
        return;
    std::lock_guard Guard(Lock);
    Finished = true;
    if (!Shown.empty()) {
        std::fputs("\r\033[K", Out);
        std::fflush(Out);
        Shown.clear();
    }
}

void TTerminalHost::Repaint()
{
    if (Board && Engine)
        Board->Update(Job, Engine->BytesIn());
}
