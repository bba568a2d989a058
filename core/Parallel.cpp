#include "core/Parallel.h"

#include <algorithm>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace tandem {
namespace {

class Pool {
public:
    Pool() {
        const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
        const unsigned helpers = std::min(hw, 16u) - 1;
        for (unsigned i = 0; i < helpers; ++i) threads_.emplace_back([this, i] { work(i + 1); });
    }
    ~Pool() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    unsigned width() const { return static_cast<unsigned>(threads_.size()) + 1; }

    void run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& fn) {
        std::lock_guard serial(callMutex_);
        const unsigned parts = width();
        {
            std::lock_guard lock(mutex_);
            fn_ = &fn;
            n_ = n;
            parts_ = parts;
            pending_ = parts - 1;
            ++generation_;
        }
        wake_.notify_all();
        slice(0);
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        fn_ = nullptr;
    }

private:
    void slice(unsigned part) {
        const std::size_t begin = n_ * part / parts_;
        const std::size_t end = n_ * (part + 1) / parts_;
        if (begin < end) (*fn_)(begin, end);
    }

    void work(unsigned part) {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
                if (quit_) return;
                seen = generation_;
            }
            slice(part);
            {
                std::lock_guard lock(mutex_);
                --pending_;
            }
            done_.notify_one();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex callMutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(std::size_t, std::size_t)>* fn_ = nullptr;
    std::size_t n_ = 0;
    unsigned parts_ = 1;
    unsigned pending_ = 0;
    std::uint64_t generation_ = 0;
    bool quit_ = false;
};

Pool& pool() {
    static Pool p;
    return p;
}

}  // namespace

void ParallelFor(std::size_t n, const std::function<void(std::size_t, std::size_t)>& fn) {
    if (n == 0) return;
    if (n == 1 || pool().width() == 1) {
        fn(0, n);
        return;
    }
    pool().run(n, fn);
}

unsigned ParallelWidth() { return pool().width(); }

}  // namespace tandem
