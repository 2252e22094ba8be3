// Waits for a condition with a generous deadline instead of sleeping a fixed time.
#pragma once

#include <chrono>
#include <thread>

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!predicate())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
