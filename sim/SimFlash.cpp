#include "sim/SimFlash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

SimFlash::SimFlash(const std::string& path, uint32_t size) : path_(path), bytes_(size, 0xFF) {
    if (path_.empty()) return;
    // The folders of the flash file, as far as they are missing.
    for (size_t slash = path_.find('/', 1); slash != std::string::npos; slash = path_.find('/', slash + 1))
        ::mkdir(path_.substr(0, slash).c_str(), 0755);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        fileError_ = path_ + ": " + std::strerror(errno);
        return;
    }
    struct stat st {};
    ::fstat(fd_, &st);
    size_t got = 0;
    while (got < bytes_.size()) {
        ssize_t n = ::pread(fd_, bytes_.data() + got, bytes_.size() - got, static_cast<off_t>(got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(got), bytes_.end(), 0xFF);
    // A file of another size (new, or written for another flash size) is
    // made to hold exactly this flash.
    if (static_cast<uint64_t>(st.st_size) != bytes_.size()) Persist(0, bytes_.size());
}

SimFlash::~SimFlash() {
    if (fd_ >= 0) ::close(fd_);
}

bool SimFlash::IsBlank(size_t offset, size_t length) const {
    auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(offset);
    return std::all_of(first, first + static_cast<std::ptrdiff_t>(length), [](uint8_t b) { return b == 0xFF; });
}

void SimFlash::Erase() {
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    Persist(0, bytes_.size());
}

void SimFlash::Program(size_t offset, const uint8_t* data, size_t length) {
    std::copy(data, data + length, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    Persist(offset, length);
}

void SimFlash::Load(const std::vector<uint8_t>& bytes) {
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    std::copy_n(bytes.begin(), std::min(bytes.size(), bytes_.size()), bytes_.begin());
    Persist(0, bytes_.size());
}

void SimFlash::Persist(size_t offset, size_t length) {
    if (fd_ < 0) return;
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd_, bytes_.data() + offset + done, length - done, static_cast<off_t>(offset + done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            fileError_ = path_ + ": " + std::strerror(errno);
            return;
        }
        done += static_cast<size_t>(n);
    }
}
