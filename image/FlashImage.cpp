#include "image/FlashImage.h"

#include <cstring>

FlashImage::FlashImage() : bytes_(new uint8_t[kFlashImageSize]) {}

void FlashImage::StoreTrailer() {
    uint8_t* trailer = bytes_.get() + ImageLength;
    std::memset(trailer, 0xFF, kTrailerSize);
    std::memcpy(trailer + kTrailerMarkerOffset, kTrailerMarker, kTrailerMarkerLength);
}
