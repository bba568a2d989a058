#include "core/BigBuffer.h"

#include <sys/mman.h>

namespace tandem::detail {

void* MapBigBlock(std::size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
}

void UnmapBigBlock(void* p, std::size_t bytes) noexcept { ::munmap(p, bytes); }

}  // namespace tandem::detail
