#include "bootmode/AwaitReply.h"

#include "core/FormCore.h"
#include "link/Driver.h"

#include <algorithm>

PollResult PollReceive(FormCore& form, uint32_t threshold, int32_t ticks, const ReadJudge& judge) {
    uint8_t buffer[kReceiveBufferSize];
    form.WaitTicks = ticks;
    // A stop ends the wait as the countdown does.
    while (form.WaitTicks != 0 && !form.StopRequested) {
        // 1. How many bytes wait (a failed status reports none).
        uint32_t waiting = 0, txCount = 0, events = 0;
        GetStatus(DeviceHandle, &waiting, &txCount, &events);
        // 2. Read them once there are more than the threshold, at most a
        //    buffer full; the rest stays queued for the next poll.
        if (waiting > threshold) {
            const uint32_t ask = std::min(waiting, kReceiveBufferSize);
            uint32_t got = 0;
            LastStatus = ReadBytes(DeviceHandle, buffer, ask, &got);
            if (LastStatus == LINK_OK) {
                ReadVerdict verdict = judge(buffer, std::min(got, ask));
                if (verdict == ReadVerdict::Accept) return PollResult::Accepted;
                if (verdict == ReadVerdict::Reject) return PollResult::Rejected;
            }
        }
        // 3. One pass of the message pump, which is what lets the tick run.
        form.ProcessMessages();
    }
    return PollResult::TimedOut;
}

bool AwaitReply(FormCore& form, uint8_t awaited, uint32_t threshold, uint32_t window, int32_t ticks) {
    auto judge = [awaited, window](const uint8_t* bytes, size_t count) {
        const size_t searched = std::min<size_t>(count, window);
        return std::find(bytes, bytes + searched, awaited) != bytes + searched ? ReadVerdict::Accept
                                                                               : ReadVerdict::KeepWaiting;
    };
    return PollReceive(form, threshold, ticks, judge) == PollResult::Accepted;
}
