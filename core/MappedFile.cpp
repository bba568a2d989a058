#include "core/MappedFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace tandem {
namespace {

// The mappings the SIGBUS handler may repair. A job maps two inputs and perhaps their
// equalised copies; a process with more at once reads the rest into memory.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<std::uintptr_t> begin{0}, end{0};
    std::atomic<bool> truncated{false};
};
constexpr int kSlots = 32;
Slot slots[kSlots];
std::uintptr_t pageSize = 4096;
struct sigaction previous {};

// A read past the end of a file truncated under its mapping: the rest of the mapping
// becomes zero pages, so the read (and every later one) sees silence, and the owner
// learns of it. A fault anywhere else goes to whoever handled SIGBUS before.
void onBusError(int sig, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& s : slots) {
        const std::uintptr_t begin = s.begin.load(std::memory_order_acquire);
        const std::uintptr_t end = s.end.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= end) continue;
        const std::uintptr_t page = at & ~(pageSize - 1);
        if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
            s.truncated.store(true, std::memory_order_release);
            return;
        }
        break;
    }
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(sig, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
    } else {
        // Returning runs the access again, which now ends the process as it would have.
        ::signal(SIGBUS, SIG_DFL);
    }
}

void installHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previous);
    });
}

int claimSlot(std::uintptr_t begin, std::uintptr_t end) {
    for (int i = 0; i < kSlots; ++i) {
        bool free = false;
        if (!slots[i].used.compare_exchange_strong(free, true)) continue;
        slots[i].truncated.store(false);
        slots[i].end.store(end, std::memory_order_release);
        slots[i].begin.store(begin, std::memory_order_release);
        return i;
    }
    return -1;
}

}  // namespace

MappedFile MappedFile::Map(int fd, std::size_t size) {
    MappedFile m;
    struct stat st {};
    if (size == 0 || fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return m;
    installHandler();
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return m;
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    Fd kept(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    const int slot = kept.valid() ? claimSlot(begin, begin + size) : -1;
    if (slot < 0) {
        ::munmap(p, size);
        return m;
    }
    // The search reads the whole file within seconds: have it read ahead.
    ::madvise(p, size, MADV_WILLNEED);
    m.data_ = static_cast<const std::uint8_t*>(p);
    m.size_ = size;
    m.slot_ = slot;
    m.fd_ = std::move(kept);
    m.stamp_ = FileStamp::Of(st);
    return m;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        reset();
        data_ = other.data_;
        size_ = other.size_;
        slot_ = other.slot_;
        fd_ = std::move(other.fd_);
        stamp_ = other.stamp_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.slot_ = -1;
    }
    return *this;
}

bool MappedFile::Changed() const {
    if (slot_ < 0) return false;
    if (slots[slot_].truncated.load(std::memory_order_acquire)) return true;
    struct stat st {};
    return ::fstat(fd_.get(), &st) != 0 || !(FileStamp::Of(st) == stamp_);
}

void MappedFile::reset() noexcept {
    if (slot_ >= 0) {
        // Out of the handler's table before the pages go.
        slots[slot_].begin.store(0, std::memory_order_release);
        slots[slot_].end.store(0, std::memory_order_release);
        slots[slot_].used.store(false, std::memory_order_release);
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    data_ = nullptr;
    size_ = 0;
    slot_ = -1;
    fd_.reset();
}

}  // namespace tandem
