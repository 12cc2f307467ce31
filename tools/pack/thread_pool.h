#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace pack {

// A fixed set of worker threads that run jobs in the order they come.
class ThreadPool {
public:
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int Threads() const { return int(m_workers.size()); }

    // Runs the job on a worker; the future is ready when it has run.
    std::future<void> Submit(std::function<void()> job);

    // Runs task(0) to task(count - 1) on the workers and waits for all of
    // them. Only a thread outside the pool may wait so.
    void ParallelFor(size_t count, const std::function<void(size_t)>& task);

private:
    void Work();

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::packaged_task<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

}  // namespace pack
