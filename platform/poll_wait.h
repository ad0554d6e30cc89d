// Waits with millisecond deadlines on the monotonic clock, shared by the serial port and the sockets.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds left until `deadline` (MonotonicMs), clamped to what poll() takes; 0 once it passed.
int MsUntil(uint64_t deadline);

// poll() on one descriptor, resumed after signals: 1 when something was reported (revents tells
// what), 0 on time-out, -1 on failure. A negative timeout waits without limit.
int PollOne(int fd, short events, int timeoutMs, short& revents);

// How often a wait of a TThread's body looks whether the thread was asked to terminate.
constexpr int kTerminationLookMs = 50;
// PollOne that, in the body of a TThread asked to terminate, stops waiting within
// kTerminationLookMs and answers 0 as on a time-out.
int PollOneUnlessTerminated(int fd, short events, int timeoutMs, short& revents);

} // namespace platform
