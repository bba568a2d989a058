#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <thread>

#include "core/Parallel.h"

using namespace tandem;

namespace {

int threadNice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); }

// The nice values of the threads that ran the slices of one call.
std::set<int> sliceNices() {
    std::mutex mutex;
    std::set<int> nices;
    ParallelFor(ParallelWidth() * 4, [&](std::size_t, std::size_t) {
        const int n = threadNice();
        std::lock_guard lock(mutex);
        nices.insert(n);
    });
    return nices;
}

}  // namespace

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
