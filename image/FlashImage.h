// The flat image of the target's flash that a write programs: one fixed
// buffer in which offset i holds the byte for flash address i.
//
// Contract
// - The buffer holds kFlashImageSize bytes and is allocated once, when the
//   FlashImage is made; nothing is allocated afterwards.
// - ImageLength counts the image bytes (data and the 0xFF fill between
//   records). Behind them lies the 128-byte trailer, which is not counted;
//   ImageLength is at most kMaxImageLength so that the trailer always fits.
// - Only offsets below ImageLength + kTrailerSize are meaningful; the rest of
//   the buffer is left as it is.
#pragma once

#include "protocol/Protocol.h"

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr uint32_t kFlashImageSize = 983092;
constexpr uint32_t kTrailerSize = 128;
constexpr uint32_t kMaxImageLength = kFlashImageSize - kTrailerSize;  // 982,964

// The trailer: five 0xFF, the marker, then 0xFF up to 128 bytes.
constexpr uint32_t kTrailerMarkerOffset = 5;
constexpr char kTrailerMarker[] = "QXA060220";  // nine characters, no terminator stored
constexpr uint32_t kTrailerMarkerLength = sizeof(kTrailerMarker) - 1;

class FlashImage {
public:
    FlashImage();
    FlashImage(const FlashImage&) = delete;
    FlashImage& operator=(const FlashImage&) = delete;

    uint8_t* Bytes() { return bytes_.get(); }
    const uint8_t* Bytes() const { return bytes_.get(); }

    uint32_t ImageLength = 0;

    // The end of the range a write programs: ImageLength rounded up to whole
    // 128-byte blocks, the last of which carries the start of the trailer.
    uint32_t ProgrammedEnd() const {
        return (ImageLength + proto::kBlockSize - 1) / proto::kBlockSize * proto::kBlockSize;
    }

    // Stores the trailer at offsets ImageLength to ImageLength + 127.
    // ImageLength must not exceed kMaxImageLength.
    void StoreTrailer();

private:
    std::unique_ptr<uint8_t[]> bytes_;
};
