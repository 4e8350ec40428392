// The simulated chip's flash: its bytes, kept in a file when a path is given
// (loaded at construction, every change written through at once), so a later
// run meets what an earlier one programmed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SimFlash {
public:
    // An empty path keeps the flash in memory only. A file that cannot be
    // used leaves it in memory too, with the reason in FileError().
    SimFlash(const std::string& path, uint32_t size);
    ~SimFlash();
    SimFlash(const SimFlash&) = delete;
    SimFlash& operator=(const SimFlash&) = delete;

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }
    // True when every byte of [offset, offset + length) is 0xFF; the whole
    // flash without arguments.
    bool IsBlank(size_t offset, size_t length) const;
    bool IsBlank() const { return IsBlank(0, bytes_.size()); }

    void Erase();
    // Writes `length` bytes at `offset` (which the caller has checked).
    void Program(size_t offset, const uint8_t* data, size_t length);
    // Replaces the contents: `bytes` padded with 0xFF, cut at the flash size.
    void Load(const std::vector<uint8_t>& bytes);

    // Empty while the flash file works; otherwise why it does not.
    const std::string& FileError() const { return fileError_; }

private:
    void Persist(size_t offset, size_t length);

    std::string path_;
    std::vector<uint8_t> bytes_;
    int fd_ = -1;
    std::string fileError_;
};
