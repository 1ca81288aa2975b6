#include "cli/Console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "cli/Interrupts.h"

namespace {

// What was read past the last line break, kept for the next call.
std::string Pending;

}  // namespace

bool HasTerminal()
{
    return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
}

TTyped ReadTypedLine(int TimeoutMs, std::string& Line)
{
    using Clock = std::chrono::steady_clock;
    const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);
    for (;;) {
        if (const size_t End = Pending.find('\n'); End != std::string::npos) {
            Line = Pending.substr(0, End);
            if (!Line.empty() && Line.back() == '\r')
                Line.pop_back();
            Pending.erase(0, End + 1);
            return TTyped::Line;
        }
        if (Interrupted())
            return TTyped::Stop;
        int Wait = -1;
        if (TimeoutMs >= 0) {
            const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                Deadline - Clock::now());
            if (Left.count() <= 0)
                return TTyped::Nothing;
            Wait = static_cast<int>(Left.count());
        }
        pollfd Input{STDIN_FILENO, POLLIN, 0};
        const int Ready = ::poll(&Input, 1, Wait);
        if (Ready < 0) {
            if (errno == EINTR)
                continue;
            return TTyped::Stop;
        }
        if (Ready == 0)
            continue;
        char Buffer[256];
        const ssize_t Count = ::read(STDIN_FILENO, Buffer, sizeof Buffer);
        if (Count < 0 && errno == EINTR)
            continue;
        if (Count <= 0) {
            // A last line without its break still counts.
            if (!Pending.empty()) {
                Line = Pending;
                Pending.clear();
                return TTyped::Line;
            }
            return TTyped::Stop;
        }
        Pending.append(Buffer, static_cast<size_t>(Count));
    }
}

void Nap(int Milliseconds)
{
    if (!Interrupted())
        ::poll(nullptr, 0, Milliseconds);
}
