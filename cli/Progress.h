// Progress on a terminal: one line on stderr for all jobs of a command, drawn while the engine
// works and cleared at the end. Off when stderr is not a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "compress/LZRW1.h"

// "[#######.............]  35%  Label", at most Width - 1 characters so it never wraps.
std::string RenderProgressLine(int64_t Done, int64_t Total, const std::string& Label,
                               size_t Width);

// One bar whose total may change between drawings (a run's tracks, then a dump's bytes).
class TProgressLine {
public:
    TProgressLine(std::FILE* Out, bool Enabled);
    bool Enabled() const { return On; }
    // Redraws only when the line would change.
    void Show(int64_t Done, int64_t Total, const std::string& Label);
    // Clears the line, so what is printed next starts on a clean one.
    void Clear();

private:
    std::FILE* Out;
    bool On;
    size_t Width;
    std::string Shown;
};

class TProgressBoard {
public:
    // Totals: the input size of each job. Label: shown after a single job's bar.
    TProgressBoard(std::vector<int64_t> Totals, std::string Label, std::FILE* Out, bool Enabled);
    ~TProgressBoard();

    bool Enabled() const { return On; }
    // Safe from any thread; redraws only when the line would change.
    void Update(size_t Job, int64_t Done);
    void JobDone(size_t Job);
    // Clears the line, so what is printed next starts on a clean one.
    void Finish();

private:
    void Draw();  // with Lock held

    std::mutex Lock;
    std::vector<int64_t> Totals;
    std::vector<int64_t> Dones;
    std::string Label;
    std::FILE* Out;
    bool On;
    size_t Width;
    size_t JobsDone = 0;
    bool Finished = false;
    std::string Shown;
};

// The engine's panel on a terminal: progress goes to one job's slot of the board.
class TTerminalHost : public TLzrw1Host {
public:
    TTerminalHost(TProgressBoard* Board, size_t Job) : Board(Board), Job(Job) {}
    void Attach(const Tlzrw1& Engine) { this->Engine = &Engine; }

    bool Visible() const override { return Board && Board->Enabled(); }
    void SetCaption(const std::string& Text) override { Caption = Text; }
    void Repaint() override;
    // Nothing to pump: the terminal needs no event loop.
    void ProcessMessages() override {}

    std::string Caption;

private:
    TProgressBoard* Board;
    size_t Job;
    const Tlzrw1* Engine = nullptr;
};
