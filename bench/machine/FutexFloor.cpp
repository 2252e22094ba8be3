#include "FutexFloor.h"

#include <atomic>
#include <linux/futex.h>
#include <memory>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace
{

void FutexWait(std::atomic<int>& word, int expected)
{
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWake(std::atomic<int>& word)
{
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// A token: the sender bumps it and wakes; the receiver waits for it to move.
struct Token
{
    std::atomic<int> word{0};
    std::atomic<int> ready{0};
    std::atomic<uint64_t> received{0};
};

} // namespace

std::vector<int64_t> FloorHandOffLatencies(int samples)
{
    Token token;
    std::atomic<int64_t> woke{0};
    std::thread receiver(
        [&]
        {
            for (int i = 0; i < samples; ++i)
            {
                int seen = token.word.load();
                token.ready.store(1);
                while (token.word.load() == seen)
                    FutexWait(token.word, seen);
                woke.store(NowNs());
            }
        });
    std::vector<int64_t> latencies;
    for (int i = 0; i < samples; ++i)
    {
        while (token.ready.load() == 0)
            std::this_thread::yield();
        token.ready.store(0);
        SleepUntilNs(NowNs() + kParkDelayNs);
        woke.store(0);
        int64_t sent = NowNs();
        token.word.fetch_add(1);
        FutexWake(token.word);
        int64_t w;
        while ((w = woke.load()) == 0)
            std::this_thread::yield();
        latencies.push_back(w - sent);
    }
    receiver.join();
    return latencies;
}

LoadResult FloorLoad(int readers, int rate, double seconds)
{
    std::vector<std::unique_ptr<Token>> tokens;
    for (int i = 0; i < readers; ++i)
        tokens.push_back(std::make_unique<Token>());
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (auto& t : tokens)
        threads.emplace_back(
            [&token = *t, &stop]
            {
                int seen = 0;
                while (!stop.load())
                {
                    FutexWait(token.word, seen);
                    int now = token.word.load();
                    token.received.fetch_add(static_cast<uint64_t>(now - seen));
                    seen = now;
                }
            });
    int64_t period = 1000000000 / rate;
    int64_t cpu0 = ProcessCpuNs();
    int64_t start = NowNs();
    int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    for (int64_t tick = start; tick < end; tick += period)
    {
        SleepUntilNs(tick);
        for (auto& t : tokens)
        {
            t->word.fetch_add(1);
            FutexWake(t->word);
        }
    }
    int64_t cpu1 = ProcessCpuNs();
    stop.store(true);
    for (auto& t : tokens)
    {
        t->word.fetch_add(1);
        FutexWake(t->word);
    }
    for (auto& t : threads)
        t.join();
    LoadResult result;
    for (auto& t : tokens)
        result.deliveries += t->received.load();
    result.cpuNsPerDelivery = double(cpu1 - cpu0) / double(std::max<uint64_t>(result.deliveries, 1));
    return result;
}
