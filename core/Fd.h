// An owned POSIX file descriptor: closed when the holder goes, unless released.
//
// Thread safety: one holder per thread, like the descriptor itself.
#pragma once

#include <unistd.h>

#include <utility>

namespace tandem {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now; returns what close returned (a failed close can mean lost data).
    int close() { return fd_ >= 0 ? ::close(release()) : 0; }

private:
    int fd_ = -1;
};

}  // namespace tandem
