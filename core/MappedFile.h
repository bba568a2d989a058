// A file's bytes mapped read-only from the page cache: no copy, and no fresh pages for the
// kernel to zero (a 20-minute pair is 400 MB). A file truncated under the mapping would
// raise SIGBUS on the pages past its new end; those pages read as zeros instead, and
// Changed() says that the file is no longer what was mapped.
//
// Thread safety: the bytes may be read from any thread; moving and destroying belong to
// the owner.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Fd.h"
#include "core/FileStamp.h"

namespace tandem {

class MappedFile {
public:
    MappedFile() = default;
    // Maps the first size bytes of the regular file fd (size > 0), keeping a duplicate
    // of fd. Empty when the system does not map it: the caller reads the file instead.
    static MappedFile Map(int fd, std::size_t size);

    MappedFile(MappedFile&& other) noexcept { *this = static_cast<MappedFile&&>(other); }
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() { reset(); }

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Whether the file was truncated, written or replaced in place since it was mapped:
    // bytes read since may not be the file's as it was.
    bool Changed() const;
    void reset() noexcept;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    int slot_ = -1;  // its entry in the SIGBUS handler's table
    Fd fd_;
    FileStamp stamp_;
};

}  // namespace tandem
