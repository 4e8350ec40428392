// The boot-mode reply wait: poll the converter's receive queue until a reply
// is recognised or the tick countdown runs out.
//
// Contract
// - The wait loads `ticks` into form.WaitTicks and polls while it is not 0.
//   Each poll is one GetStatus, then, only when more than `threshold` bytes
//   wait, one ReadBytes of min(waiting, 256) bytes with its status stored in
//   LastStatus, then one form.ProcessMessages(). Polls follow each other
//   without pause; only the tick ends the wait.
// - A set form.StopRequested ends the wait as a run-out countdown does.
// - Every read consumes what it takes; bytes beyond 256 stay queued for the
//   next poll. A failed read is followed by the next poll.
// - AwaitReply is found once a successful read holds `awaited` among its
//   first `window` bytes. An awaited byte further into a read is lost.
// - PollReceive is the same loop with the judgement of each successful read
//   left to the caller (the device inquiry uses it for its device check).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class FormCore;

// The largest read of one poll (the size of the receive buffer).
constexpr uint32_t kReceiveBufferSize = 256;
// How many leading bytes of a read every boot-mode reply wait searches.
constexpr uint32_t kReplyWindow = 20;

// What the caller makes of the bytes of one successful read.
enum class ReadVerdict { KeepWaiting, Accept, Reject };
// How a poll loop ended.
enum class PollResult { TimedOut, Accepted, Rejected };

using ReadJudge = std::function<ReadVerdict(const uint8_t* bytes, size_t count)>;

PollResult PollReceive(FormCore& form, uint32_t threshold, int32_t ticks, const ReadJudge& judge);

bool AwaitReply(FormCore& form, uint8_t awaited, uint32_t threshold, uint32_t window, int32_t ticks);
