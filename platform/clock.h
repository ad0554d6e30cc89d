// Clocks: a 32-bit millisecond tick for values that are stored or shown, a 64-bit monotonic clock for
// every elapsed-time test, and local wall time as TDateTime (days since 1899-12-30).
#pragma once

#include <cstdint>

namespace platform {

using TDateTime = double;

// Milliseconds since an arbitrary start, wrapping at 2^32 (about 49.7 days).
uint32_t GetTickCount();
// Milliseconds on the monotonic clock: no wrap, no jumps when the wall clock is set.
uint64_t MonotonicMs();
// Local wall time.
TDateTime Now();
void Sleep(uint32_t ms);

// Calendar conversions of TDateTime (proleptic Gregorian calendar).
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& ms);

} // namespace platform
