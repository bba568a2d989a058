// Storage for whole-file images (hundreds of megabytes). Large blocks are mapped on their
// own and elements are left uninitialised on resize, as the file's bytes are read over
// them at once. No huge pages are asked for: in a virtual machine that hands free memory
// back to its host, a huge page's first touch cost 1.2-2.9 ms a megabyte once the host
// had the memory back (seconds after another process freed it), against 0.37 for small
// pages every time; 0.12 only while freed huge pages were still at hand. A 20-minute
// job spent 0.24 CPU-s zeroing the track's signals in huge pages, and ran 2-3 % slower.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace tandem {

namespace detail {
void* MapBigBlock(std::size_t bytes);  // throws std::bad_alloc
void UnmapBigBlock(void* p, std::size_t bytes) noexcept;
constexpr std::size_t kBigBlock = std::size_t{4} << 20;
}  // namespace detail

template <class T>
struct BigBufferAllocator {
    using value_type = T;
    BigBufferAllocator() = default;
    template <class U>
    BigBufferAllocator(const BigBufferAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= detail::kBigBlock) return static_cast<T*>(detail::MapBigBlock(bytes));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= detail::kBigBlock) {
            detail::UnmapBigBlock(p, bytes);
        } else {
            std::allocator<T>().deallocate(p, n);
        }
    }
    // Value-less construction leaves the element uninitialised (resize without zeroing).
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const BigBufferAllocator<U>&) const noexcept {
        return true;
    }
};

// A whole file's bytes.
using ByteImage = std::vector<std::uint8_t, BigBufferAllocator<std::uint8_t>>;

}  // namespace tandem
