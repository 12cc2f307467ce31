#include "pack/thread_pool.h"

namespace pack {

ThreadPool::ThreadPool(int threads) {
    for (int i = 0; i < (threads > 0 ? threads : 1); ++i) m_workers.emplace_back([this] { Work(); });
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_all();
    for (std::thread& t : m_workers) t.join();
}

std::future<void> ThreadPool::Submit(std::function<void()> job) {
    std::packaged_task<void()> task(std::move(job));
    std::future<void> done = task.get_future();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(task));
    }
    m_ready.notify_one();
    return done;
}

void ThreadPool::ParallelFor(size_t count, const std::function<void(size_t)>& task) {
    if (count == 1) return task(0);
    std::vector<std::future<void>> done;
    done.reserve(count);
    for (size_t i = 0; i < count; ++i) done.push_back(Submit([&task, i] { task(i); }));
    for (std::future<void>& d : done) d.wait();
}

void ThreadPool::Work() {
    for (;;) {
        std::packaged_task<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

}  // namespace pack
