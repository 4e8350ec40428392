#include "monitor/ReceivePump.h"

#include "core/FormCore.h"
#include "link/Driver.h"

#include <cstring>
#include <string>

namespace {
// One byte more than the largest read, so the text always ends in a zero.
constexpr uint32_t kBufferSize = 256;
constexpr uint32_t kLargestRead = kBufferSize - 1;
}  // namespace

void MonitorReceivePump(FormCore& form) {
    // A write or the start-up connection owns the link: every byte is theirs.
    if (form.LinkBusy) return;

    // How many bytes wait; the status itself is not examined, a failed call
    // reports none.
    uint32_t waiting = 0, sending = 0, events = 0;
    GetStatus(DeviceHandle, &waiting, &sending, &events);
    if (waiting == 0) return;

    // What waits, at most 255 bytes, into a zeroed buffer; the rest stays
    // queued for the next tick.
    char buffer[kBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    uint32_t got = 0;
    LastStatus = ReadBytes(DeviceHandle, buffer, waiting < kLargestRead ? waiting : kLargestRead, &got);
    if (LastStatus != 0) return;

    // The text up to the first zero byte is one new line. The last byte is
    // never read into, so a zero is always found.
    const char* end = static_cast<const char*>(std::memchr(buffer, 0, sizeof buffer));
    form.AppendMonitorLine(std::string(buffer, static_cast<size_t>(end - buffer)));
}
