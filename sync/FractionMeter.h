// The points' fractions (SubFrameOffset), measured beside the search.
//
// The segment search keeps about 1.6 of 2 cores busy (20-minute generated pair, AMD
// EPYC); its 6,000 fractions cost about 0.5 CPU-s there, which measured in batches on
// both cores between the segments would lengthen the search by a quarter second. They
// are measured instead on what the search leaves: by the pool's helpers where they would
// sleep between the search's hand-overs, and by a thread of idle scheduling priority
// (which alone hardly ran beside a spinning helper: 200 ms of fractions were left at the
// end; now none). What is left when the search ends is measured on all cores. A
// fraction does not feed back into the search, so the points are those of measuring
// each at once.
//
// Thread safety: Add, TakeMeasured and MeasureAll from one thread (the search's); the
// files must be loaded, as concurrent reads of them are then safe.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "core/Parallel.h"
#include "core/Types.h"

namespace tandem {

class KWavefile;

class FractionMeter {
public:
    struct Item {
        int index;  // the point's
        FrameIndex J, K, N, P;  // the segment, as SubFrameOffset takes it
        double offset = 0.0;
    };
    using Apply = std::function<void(const Item&)>;

    FractionMeter(KWavefile& master, KWavefile& slave);
    ~FractionMeter();
    FractionMeter(const FractionMeter&) = delete;
    FractionMeter& operator=(const FractionMeter&) = delete;

    void Add(const Item& item);
    // Hands the measured items at the front of the queue, in the order added, to apply.
    void TakeMeasured(const Apply& apply);
    // Measures every item added (on all cores with the background thread) and hands
    // them all to apply. Rethrows what a measure threw.
    void MeasureAll(const Apply& apply);

private:
    void work();
    void measure(std::size_t k, Item* item);
    bool take(std::size_t& k, Item*& item);  // the next unclaimed item, under the lock
    bool measureOne();                        // the next unclaimed item, if any
    static constexpr std::size_t kBatch = 8;  // points (1.6 s at 普) waiting before a sleeping worker is woken

    KWavefile& master_;
    KWavefile& slave_;
    std::mutex mutex_;
    std::condition_variable wake_, measured_;
    struct Slot {
        Item item;
        bool done = false;
    };
    std::deque<Slot> items_;  // references stay valid as items are added
    std::size_t claimed_ = 0, applied_ = 0, running_ = 0;
    std::exception_ptr failure_;
    bool quit_ = false;
    bool sleeping_ = false;  // the worker waits for items
    std::thread thread_;  // started with the first item
    // The pool's helpers measure too where they would sleep: the search's hand-overs
    // leave them idle a quarter of the time, which the idle-priority thread hardly gets.
    IdleWork idle_{[this] { return measureOne(); }};
};

}  // namespace tandem
