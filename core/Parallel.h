// A small process-wide pool for splitting a loop over the machine's cores.
//
// ParallelFor(n, fn) calls fn(begin, end) on disjoint ranges covering [0, n), some on
// the calling thread, and returns when all are done. Ranges are contiguous and in
// order per call of fn, of varying size, several per thread; what each range computes
// must not depend on the others.
//
// An exception thrown by fn (on any thread) stops the handing out of ranges; ranges
// already running finish, and the first exception is rethrown to the caller.
//
// The helper threads run at the caller's nice value: a caller lowered to the background
// (setpriority on its thread) gets helpers as low as itself.
//
// Thread safety: any thread may call it; calls from two threads at once at the same
// priority are served one after the other. fn must not call ParallelFor itself.
#pragma once

#include <cstddef>
#include <functional>

namespace tandem {

void ParallelFor(std::size_t n, const std::function<void(std::size_t begin, std::size_t end)>& fn);
// How many threads ParallelFor uses (the caller included).
unsigned ParallelWidth();

// Work for the helpers while no call needs them: where a helper would go to sleep, it
// runs work() again and again, each call one small unit, until it returns false (none
// left) or a call comes. One registration at a time: another made while one lives does
// nothing. The destructor returns once no helper runs work() any more.
class IdleWork {
public:
    explicit IdleWork(std::function<bool()> work);
    ~IdleWork();
    IdleWork(const IdleWork&) = delete;
    IdleWork& operator=(const IdleWork&) = delete;

private:
    bool registered_ = false;
};

}  // namespace tandem
