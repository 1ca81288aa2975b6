// Polls a condition a test waits for (a helper ending, a file appearing) until it holds or the
// limit has passed, so that a fault fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

inline bool WaitFor(const std::function<bool()>& Condition,
                    std::chrono::milliseconds Limit = std::chrono::seconds(10))
{
    for (auto End = std::chrono::steady_clock::now() + Limit;
         std::chrono::steady_clock::now() < End;
         std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (Condition())
            return true;
    return Condition();
}
