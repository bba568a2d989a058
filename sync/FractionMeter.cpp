#include "sync/FractionMeter.h"

#include <pthread.h>
#include <sched.h>

#include "core/Parallel.h"
#include "sync/SubFrame.h"

namespace tandem {

FractionMeter::FractionMeter(KWavefile& master, KWavefile& slave) : master_(master), slave_(slave) {}

FractionMeter::~FractionMeter() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FractionMeter::Add(const Item& item) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        items_.push_back({item});
        // A sleeping worker is woken for a batch, not for each point: every wake-up is a
        // futex call on both sides (3,200 of them on a 20-minute pair, one per two points).
        wake = sleeping_ && items_.size() - claimed_ >= kBatch;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { work(); });
    if (wake) wake_.notify_one();
}

bool FractionMeter::take(std::size_t& k, Item*& item) {
    if (claimed_ >= items_.size() || failure_) return false;
    k = claimed_++;
    item = &items_[k].item;
    ++running_;
    return true;
}

bool FractionMeter::measureOne() {
    std::size_t k = 0;
    Item* item = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!take(k, item)) return false;
    }
    measure(k, item);
    return true;
}

void FractionMeter::measure(std::size_t k, Item* item) {
    try {
        item->offset = SubFrameOffset(master_, slave_, item->J, item->K, item->N, item->P);
    } catch (...) {
        std::lock_guard lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        items_[k].done = true;
        --running_;
    }
    measured_.notify_all();
}

void FractionMeter::work() {
    // Idle priority: the search's threads take the cores whenever they want them. An
    // unprivileged thread may always lower itself; where it cannot, it runs as it is.
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    for (;;) {
        std::size_t k = 0;
        Item* item = nullptr;
        {
            std::unique_lock lock(mutex_);
            sleeping_ = true;
            wake_.wait(lock, [&] { return quit_ || take(k, item); });
            sleeping_ = false;
            if (quit_) return;
        }
        measure(k, item);
    }
}

void FractionMeter::TakeMeasured(const Apply& apply) {
    std::lock_guard lock(mutex_);
    for (; applied_ < items_.size() && items_[applied_].done; ++applied_) apply(items_[applied_].item);
}

void FractionMeter::MeasureAll(const Apply& apply) {
    ParallelFor(ParallelWidth(), [&](std::size_t, std::size_t) {
        for (;;) {
            std::size_t k = 0;
            Item* item = nullptr;
            {
                std::lock_guard lock(mutex_);
                if (!take(k, item)) return;
            }
            measure(k, item);
        }
    });
    {
        std::unique_lock lock(mutex_);
        measured_.wait(lock, [&] { return running_ == 0; });
        if (failure_) std::rethrow_exception(failure_);
    }
    TakeMeasured(apply);
}

}  // namespace tandem
