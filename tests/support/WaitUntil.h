// The tests' one way of waiting for something another thread does: poll a condition until it holds or a
// generous deadline passes, instead of sleeping a fixed time. Returns the condition's last answer.
#pragma once

#include <chrono>
#include <thread>

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!predicate())
    {
        if (std::chrono::steady_clock::now() > end)
            return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
