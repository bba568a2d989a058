#include "core/Parallel.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tandem {
namespace {

id_t threadId() { return static_cast<id_t>(::syscall(SYS_gettid)); }

// The calling thread's nice value (Linux priorities are per thread).
int currentNice() {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, threadId());
    return errno == 0 ? nice : 0;
}

// The registered idle work; helpers hold the lock shared while they run it.
struct IdleSlot {
    std::shared_mutex mutex;
    std::function<bool()> work;  // empty: none registered
    int nice = 0;                // of the thread that registered it: only its pool's helpers run it
};

IdleSlot& idleSlot() {
    static IdleSlot slot;
    return slot;
}

// One unit of the idle work, unless there is none or it is being replaced.
bool runIdleWork(int nice) {
    IdleSlot& slot = idleSlot();
    std::shared_lock lock(slot.mutex, std::try_to_lock);
    return lock.owns_lock() && slot.work && slot.nice == nice && slot.work();
}

class Pool {
public:
    explicit Pool(int nice) : nice_(nice) {
        const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
        const unsigned helpers = std::min(hw, 16u) - 1;
        for (unsigned i = 0; i < helpers; ++i) {
            threads_.emplace_back([this, nice] {
                ::setpriority(PRIO_PROCESS, threadId(), nice);
                work();
            });
        }
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

    // The items are handed out from a shared counter in shrinking chunks (a quarter of
    // what is left per thread, then less), so a helper that wakes late finds less to do
    // and nobody waits long for the last chunk. Only helpers that joined before the
    // items ran out are waited for.
    void run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& fn) {
        std::lock_guard serial(callMutex_);
        {
            std::lock_guard lock(mutex_);
            fn_ = &fn;
            n_ = n;
            next_.store(0, std::memory_order_relaxed);
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        take();
        // The helpers' last chunks end within microseconds of the caller's.
        spinWhile([this] { return active_.load(std::memory_order_acquire) != 0; }, kSpinUs);
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return active_.load(std::memory_order_relaxed) == 0; });
        fn_ = nullptr;
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }

private:
    // Runs chunks until none are left. A chunk that throws ends the handing out; the
    // first exception is kept for the caller, as one escaping a helper would end the
    // process.
    void take() {
        const std::size_t n = n_;
        const std::size_t share = 2 * static_cast<std::size_t>(width());
        std::size_t begin = next_.load(std::memory_order_relaxed);
        while (begin < n) {
            const std::size_t end = begin + std::max<std::size_t>(1, (n - begin) / share);
            if (next_.compare_exchange_weak(begin, end, std::memory_order_relaxed)) {
                try {
                    (*fn_)(begin, end);
                } catch (...) {
                    next_.store(n, std::memory_order_relaxed);
                    std::lock_guard lock(mutex_);
                    if (!failure_) failure_ = std::current_exception();
                    return;
                }
                begin = next_.load(std::memory_order_relaxed);
            }
        }
    }

    // Waits while busy() holds, for at most `us` µs, without sleeping. The segment loop
    // makes several calls per segment a few tens of µs apart: a helper that sleeps
    // between them costs a futex sleep and wake-up each time, and in a virtual machine an
    // interrupt besides (5-12 % of a 20-minute job's samples). Longer gaps still sleep.
    template <class Busy>
    static void spinWhile(Busy busy, int us) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
        while (busy()) {
            for (int i = 0; i < 32; ++i) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            }
            if (std::chrono::steady_clock::now() > until) return;
        }
    }

    // Between calls a helper waits briefly for the next, then takes the idle work; with
    // none it waits out the rest of 50 µs before it sleeps. Waiting the whole 50 µs
    // before the idle work kept the measure of fractions behind the search, so that it
    // was left for the search's end while the helper spun 0.3 s of the 20-minute pair's
    // search; after 15 µs most of the segment loop's calls are still joined.
    static constexpr int kSpinBeforeIdleUs = 15, kSpinUs = 50;

    void work() {
        std::uint64_t seen = 0;
        const auto noCall = [&] { return generation_.load(std::memory_order_acquire) == seen; };
        for (;;) {
            spinWhile(noCall, kSpinBeforeIdleUs);
            // A call that comes during a unit of the idle work is joined after it (its
            // caller does not wait for a helper that has not joined).
            bool worked = false;
            while (noCall() && runIdleWork(nice_)) worked = true;
            if (worked) continue;
            spinWhile(noCall, kSpinUs - kSpinBeforeIdleUs);
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return quit_ || generation_.load(std::memory_order_relaxed) != seen; });
                if (quit_) return;
                seen = generation_.load(std::memory_order_relaxed);
                if (fn_ == nullptr) continue;  // woke after the call had finished
                active_.fetch_add(1, std::memory_order_relaxed);
            }
            take();
            {
                std::lock_guard lock(mutex_);
                active_.fetch_sub(1, std::memory_order_release);
            }
            done_.notify_one();
        }
    }

    const int nice_;
    std::vector<std::thread> threads_;
    std::mutex callMutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(std::size_t, std::size_t)>* fn_ = nullptr;
    std::size_t n_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<unsigned> active_{0};  // changed under mutex_; read outside it only to spin
    std::exception_ptr failure_;  // the first exception of the current call
    std::atomic<std::uint64_t> generation_{0};  // changed under mutex_
    bool quit_ = false;
};

// One pool per nice value of the callers: a job lowered to the background has its
// helpers lowered with it, and a job at normal priority never waits on lowered helpers
// (an unprivileged thread cannot raise its priority again).
Pool& pool() {
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<Pool>> pools;
    const int nice = currentNice();
    std::lock_guard lock(mutex);
    std::unique_ptr<Pool>& p = pools[nice];
    if (!p) p = std::make_unique<Pool>(nice);
    return *p;
}

}  // namespace

void ParallelFor(std::size_t n, const std::function<void(std::size_t, std::size_t)>& fn) {
    if (n == 0) return;
    if (n == 1) {
        fn(0, n);
        return;
    }
    Pool& p = pool();
    if (p.width() == 1) {
        fn(0, n);
        return;
    }
    p.run(n, fn);
}

unsigned ParallelWidth() { return pool().width(); }

IdleWork::IdleWork(std::function<bool()> work) {
    IdleSlot& slot = idleSlot();
    std::unique_lock lock(slot.mutex);
    if (slot.work) return;
    slot.work = std::move(work);
    slot.nice = currentNice();
    registered_ = true;
}

IdleWork::~IdleWork() {
    if (!registered_) return;
    IdleSlot& slot = idleSlot();
    std::unique_lock lock(slot.mutex);  // waits for the units running
    slot.work = nullptr;
}

}  // namespace tandem
