// Storage for whole-file images (hundreds of megabytes). Large blocks are mapped with
// transparent huge pages where the kernel offers them, which cuts the page faults of
// filling them by a factor of 512, and elements are left uninitialised on resize, as
// the file's bytes are read over them at once.
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
