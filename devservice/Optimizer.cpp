#include "Optimizer.h"

#include "Clock.h"
#include "Store.h"

#include <cstdio>

namespace quillpost::devservice {

Optimizer::Optimizer(Store &store, std::chrono::milliseconds delay)
    : m_store(store), m_delay(delay), m_worker([this] { run(); })
{
}

Optimizer::~Optimizer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void Optimizer::schedule(const std::string &clipId)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace(Clock::now() + m_delay, clipId);
    }
    m_wake.notify_one();
}

void Optimizer::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_jobs.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const Clock::time_point due = m_jobs.top().first;
        if (Clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        const std::string clipId = m_jobs.top().second;
        m_jobs.pop();
        lock.unlock();
        try {
            m_store.finishOptimize(clipId, nowMs());
        } catch (const std::exception &error) {
            // The clip stays pending in the store and is scheduled again at the next start.
            std::fprintf(stderr, "optimizing clip %s failed: %s\n", clipId.c_str(), error.what());
        }
        lock.lock();
    }
}

} // namespace quillpost::devservice
