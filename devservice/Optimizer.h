#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillpost::devservice {

class Store;

// Plays the service's text optimization: a fixed time after a clip is scheduled, its optimized
// text is written by its own worker thread. Stopping drops what is still waiting; those clips
// stay pending in the store and are scheduled again at the next start.
class Optimizer
{
public:
    Optimizer(Store &store, std::chrono::milliseconds delay);
    ~Optimizer();
    Optimizer(const Optimizer &) = delete;
    Optimizer &operator=(const Optimizer &) = delete;

    void schedule(const std::string &clipId);

private:
    using Clock = std::chrono::steady_clock;
    using Job = std::pair<Clock::time_point, std::string>;

    void run();

    Store &m_store;
    std::chrono::milliseconds m_delay;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::priority_queue<Job, std::vector<Job>, std::greater<Job>> m_jobs;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace quillpost::devservice
