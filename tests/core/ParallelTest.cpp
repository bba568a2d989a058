#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/Parallel.h"

using namespace tandem;

namespace {

int threadNice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); }

// The nice values of the threads that ran the slices of one call. Each range waits
// (a few seconds at most) until every thread of the pool has taken one, so that a helper
// woken late still gets its share.
std::set<int> sliceNices() {
    std::mutex mutex;
    std::set<int> nices;
    std::set<std::thread::id> threads;
    ParallelFor(ParallelWidth() * 4, [&](std::size_t, std::size_t) {
        const int n = threadNice();
        {
            std::lock_guard lock(mutex);
            nices.insert(n);
            threads.insert(std::this_thread::get_id());
        }
        for (int wait = 0; wait < 5000; ++wait) {
            {
                std::lock_guard lock(mutex);
                if (threads.size() >= ParallelWidth()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    return nices;
}

}  // namespace

TEST(Parallel, every_index_is_handed_out_exactly_once) {
    for (std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{101}, std::size_t{5000}}) {
        std::vector<std::atomic<int>> seen(n);
        ParallelFor(n, [&](std::size_t b, std::size_t e) {
            ASSERT_LT(b, e);
            ASSERT_LE(e, n);
            for (std::size_t i = b; i < e; ++i) seen[i].fetch_add(1);
        });
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i].load(), 1) << "index " << i << " of " << n;
    }
}

TEST(Parallel, helpers_run_at_the_priority_of_the_caller) {
    if (ParallelWidth() < 2) GTEST_SKIP() << "one core: no helper threads";
    const int normal = threadNice();
    if (normal >= 19) GTEST_SKIP() << "the tests already run at the lowest priority";
    EXPECT_EQ(sliceNices(), std::set<int>{normal}) << "helpers made at normal priority";
    std::set<int> lowered;
    std::thread background([&] {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 19);
        lowered = sliceNices();
    });
    background.join();
    EXPECT_EQ(lowered, std::set<int>{19}) << "a background job's helpers are lowered with it";
    EXPECT_EQ(sliceNices(), std::set<int>{normal}) << "and a normal job's are not";
}

TEST(Parallel, a_throw_on_a_helper_reaches_the_caller_and_the_pool_goes_on) {
    if (ParallelWidth() < 2) GTEST_SKIP() << "one core: no helper threads";
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> helperRan{false};
    const auto run = [&] {
        ParallelFor(ParallelWidth() * 64, [&](std::size_t, std::size_t) {
            if (std::this_thread::get_id() != caller) {
                helperRan = true;
                throw std::runtime_error("helper failed");
            }
            // The caller keeps a range until a helper has taken one.
            for (int wait = 0; wait < 5000 && !helperRan; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    };
    try {
        run();
        ADD_FAILURE() << "the helper's exception was lost";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "helper failed");
    }
    std::atomic<std::size_t> covered{0};
    ParallelFor(1000, [&](std::size_t b, std::size_t e) { covered += e - b; });
    EXPECT_EQ(covered.load(), 1000u);
}

// Idle helpers take the registered work unit by unit, on helper threads only, while it
// lives; a second registration meanwhile is not run, and none is run once it is gone.
TEST(Parallel, idle_helpers_run_the_registered_work_while_it_lives) {
    if (ParallelWidth() < 2) GTEST_SKIP() << "one core: no helper threads";
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> units{0}, others{0};
    std::atomic<bool> onCaller{false};
    {
        IdleWork work([&] {
            if (std::this_thread::get_id() == caller) onCaller = true;
            return units.fetch_add(1) < 99;  // 100 units, then none left
        });
        IdleWork second([&] { return others.fetch_add(1) < 0; });
        ParallelFor(ParallelWidth(), [](std::size_t, std::size_t) {});  // the helpers exist and wake
        for (int wait = 0; wait < 10000 && units.load() < 100; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(units.load(), 100);
    EXPECT_FALSE(onCaller.load());
    EXPECT_EQ(others.load(), 0) << "one registration at a time";
    const int after = units.load();
    ParallelFor(ParallelWidth(), [](std::size_t, std::size_t) {});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(units.load(), after) << "no work runs once its registration is gone";
}
