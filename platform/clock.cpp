#include "platform/clock.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace platform {
namespace {

// Day number of 1899-12-30, the TDateTime epoch, counting 0001-01-01 as day 1.
constexpr int64_t kDelta = 693594;

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

uint64_t Ms(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

} // namespace

uint32_t GetTickCount() {
    return static_cast<uint32_t>(Ms(CLOCK_MONOTONIC));
}

uint64_t MonotonicMs() {
    return Ms(CLOCK_MONOTONIC);
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const time_t secs = ts.tv_sec;
    tm local{};
    localtime_r(&secs, &local);
    TDateTime date = 0, time = 0;
    TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
    TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                  static_cast<int>(ts.tv_nsec / 1000000), time);
    return date + time;
}

void Sleep(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    int64_t days = day;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    const int64_t y = year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    value = static_cast<double>(days - kDelta);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& value) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || ms > 999)
        return false;
    value = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + ms) / 86400000.0;
    return true;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    // Before the epoch the integer part is still the day and the fraction the time of day
    // (-1.25 is 1899-12-29 06:00), so the day is truncated, not floored. A value outside
    // 0001-01-01 .. 9999-12-31 (a corrupt record, NaN) decodes as zeros instead of overflowing.
    if (!(value > -static_cast<double>(kDelta) && value < 2958466.0)) {
        year = month = day = 0;
        return;
    }
    int64_t t = static_cast<int64_t>(std::trunc(value)) + kDelta - 1; // days since 0001-01-01, 0-based
    int y = 1;
    const int64_t d400 = 146097, d100 = 36524, d4 = 1461;
    y += static_cast<int>(t / d400) * 400;
    t %= d400;
    int64_t i = t / d100;
    if (i == 4) i = 3;
    y += static_cast<int>(i) * 100;
    t -= i * d100;
    y += static_cast<int>(t / d4) * 4;
    t %= d4;
    i = t / 365;
    if (i == 4) i = 3;
    y += static_cast<int>(i);
    t -= i * 365;
    int m = 1;
    while (t >= DaysInMonth(y, m)) {
        t -= DaysInMonth(y, m);
        ++m;
    }
    year = y;
    month = m;
    day = static_cast<int>(t) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& ms) {
    if (!std::isfinite(value)) {
        hour = minute = second = ms = 0;
        return;
    }
    const double frac = std::fabs(value - std::trunc(value));
    int64_t total = static_cast<int64_t>(std::nearbyint(frac * 86400000.0));
    if (total >= 86400000) total = 86399999;
    ms = static_cast<int>(total % 1000);
    total /= 1000;
    second = static_cast<int>(total % 60);
    total /= 60;
    minute = static_cast<int>(total % 60);
    hour = static_cast<int>(total / 60);
}

} // namespace platform
