#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace platform;

namespace {

double Encode(int y, int m, int d) {
    TDateTime v = -1e9;
    EXPECT_TRUE(TryEncodeDate(y, m, d, v)) << y << "-" << m << "-" << d;
    return v;
}

struct Ymd {
    int y, m, d;
    bool operator==(const Ymd&) const = default;
};

Ymd Decode(TDateTime v) {
    Ymd r{-1, -1, -1};
    DecodeDate(v, r.y, r.m, r.d);
    return r;
}

} // namespace

TEST(ClockDates, KnownDayNumbers) {
    EXPECT_EQ(Encode(1899, 12, 30), 0.0);
    EXPECT_EQ(Encode(1899, 12, 31), 1.0);
    EXPECT_EQ(Encode(1900, 1, 1), 2.0);
    EXPECT_EQ(Encode(1900, 2, 28), 60.0);
    EXPECT_EQ(Encode(1900, 3, 1), 61.0); // 1900 is no leap year
    EXPECT_EQ(Encode(2000, 1, 1), 36526.0);
    EXPECT_EQ(Encode(1, 1, 1), -693593.0);
    EXPECT_EQ(Encode(9999, 12, 31), 2958465.0);
    EXPECT_EQ(Decode(0), (Ymd{1899, 12, 30}));
    EXPECT_EQ(Decode(61), (Ymd{1900, 3, 1}));
    EXPECT_EQ(Decode(-693593), (Ymd{1, 1, 1}));
    EXPECT_EQ(Decode(2958465.999), (Ymd{9999, 12, 31}));
}

TEST(ClockDates, LeapYearRules) {
    TDateTime v;
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, v));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(2100, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
    EXPECT_EQ(Encode(2000, 3, 1) - Encode(2000, 2, 28), 2.0);
    EXPECT_EQ(Encode(2100, 3, 1) - Encode(2100, 2, 28), 1.0);
}

TEST(ClockDates, InvalidDatesAreRefused) {
    TDateTime v = 123;
    for (auto [y, m, d] : {Ymd{0, 1, 1}, Ymd{10000, 1, 1}, Ymd{2020, 0, 1}, Ymd{2020, 13, 1},
                           Ymd{2020, 4, 31}, Ymd{2020, 1, 0}, Ymd{2020, 1, 32}})
        EXPECT_FALSE(TryEncodeDate(y, m, d, v)) << y << "-" << m << "-" << d;
    EXPECT_EQ(v, 123);
}

TEST(ClockDates, EveryDayRoundTripsAndFollowsTheDayBefore) {
    Ymd prev = Decode(-693593);
    for (int n = -693592; n <= 2958465; ++n) {
        const Ymd cur = Decode(n);
        TDateTime back = 0;
        ASSERT_TRUE(TryEncodeDate(cur.y, cur.m, cur.d, back)) << n;
        ASSERT_EQ(back, n);
        const bool nextDay = cur.y == prev.y && cur.m == prev.m && cur.d == prev.d + 1;
        const bool nextMonth = cur.d == 1 && ((cur.y == prev.y && cur.m == prev.m + 1) ||
                                              (cur.y == prev.y + 1 && cur.m == 1 && prev.m == 12));
        ASSERT_TRUE(nextDay || nextMonth) << n;
        prev = cur;
    }
}

TEST(ClockDates, BeforeTheEpochTheFractionIsStillTheTimeOfDay) {
    int h, mi, s, ms;
    EXPECT_EQ(Decode(-1.25), (Ymd{1899, 12, 29}));
    DecodeTime(-1.25, h, mi, s, ms);
    EXPECT_EQ(h, 6);
    EXPECT_EQ(mi, 0);
    EXPECT_EQ(Decode(-0.5), (Ymd{1899, 12, 30}));
    DecodeTime(-0.5, h, mi, s, ms);
    EXPECT_EQ(h, 12);
}

TEST(ClockDates, CorruptValuesDecodeAsZeros) {
    for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300,
                     -1e300, 2958466.0, -693594.0}) {
        EXPECT_EQ(Decode(v), (Ymd{0, 0, 0})) << v;
        int h = -1, mi = -1, s = -1, ms = -1;
        DecodeTime(v, h, mi, s, ms);
        EXPECT_GE(h, 0) << v;
        EXPECT_LE(h, 23) << v;
    }
}

TEST(ClockTime, EncodeDecodeRoundTripToTheMillisecond) {
    for (int h : {0, 1, 12, 23})
        for (int mi : {0, 30, 59})
            for (int s : {0, 1, 59})
                for (int ms : {0, 1, 500, 999}) {
                    TDateTime t;
                    ASSERT_TRUE(TryEncodeTime(h, mi, s, ms, t));
                    int h2, mi2, s2, ms2;
                    DecodeTime(45000.0 + t, h2, mi2, s2, ms2);
                    EXPECT_EQ(h2 * 3600000 + mi2 * 60000 + s2 * 1000 + ms2,
                              h * 3600000 + mi * 60000 + s * 1000 + ms)
                        << h << ":" << mi << ":" << s << "." << ms;
                }
    TDateTime t;
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
    EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, t));
}

TEST(ClockTime, LastInstantOfADayStaysInThatDay) {
    int h, mi, s, ms;
    DecodeTime(100.0 - 1e-12, h, mi, s, ms);
    EXPECT_EQ(h, 23);
    EXPECT_EQ(mi, 59);
    EXPECT_EQ(s, 59);
    EXPECT_EQ(ms, 999);
}

TEST(ClockTicks, MonotonicNeverGoesBackAndTickFollowsIt) {
    uint64_t last = MonotonicMs();
    const uint64_t until = last + 50;
    uint64_t now = last;
    while (now < until) {
        now = MonotonicMs();
        ASSERT_GE(now, last);
        last = now;
    }
    const uint32_t tick = GetTickCount();
    const uint32_t mono = static_cast<uint32_t>(MonotonicMs());
    EXPECT_LE(static_cast<uint32_t>(mono - tick), 5u);
}

TEST(ClockNow, TodayDecodesToTheLocalCalendarDate) {
    const time_t t = time(nullptr);
    tm local{}, after{};
    localtime_r(&t, &local);
    const Ymd today = Decode(Now());
    const time_t t2 = time(nullptr);
    localtime_r(&t2, &after);
    if (after.tm_mday != local.tm_mday) GTEST_SKIP() << "midnight passed during the test";
    EXPECT_EQ(today, (Ymd{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}));
}
