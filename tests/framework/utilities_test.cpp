#include "framework/utilities.h"
#include "platform/clock.h"
#include "platform/text.h"

#include "platform/netns_child.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

using framework::IniReadBool;
using framework::IniReadInteger;
using framework::Ping;

TEST(Ping, LoopbackAnswersWithASmallTime) {
    if (!netns::IcmpSocketAllowed())
        GTEST_SKIP() << "neither a raw nor a datagram ICMP socket may be opened here";
    const int32_t rtt = Ping("127.0.0.1", 500);
    EXPECT_GE(rtt, 0);
    EXPECT_LT(rtt, 500);
}

TEST(Ping, NamesAndMalformedAddressesGiveMinusOne) {
    for (const char* address : {"localhost", "127.0.0", "1.2.3.4.5", "", "127.0.0.01", "127.1", "127.0.0.1 "})
        EXPECT_EQ(Ping(address, 500), -1) << address;
}

TEST(Ping, NoAnswerIsMinusOneAfterTheTimeout) {
    struct R {
        int32_t rtt;
        int64_t elapsedMs;
    };
    netns::Setup setup;
    setup.ignoreEcho = true;
    const auto out = netns::Run<R>(setup, [] {
        const uint64_t start = platform::MonotonicMs();
        const int32_t rtt = Ping("127.0.0.1", 500);
        return R{rtt, static_cast<int64_t>(platform::MonotonicMs() - start)};
    });
    NETNS_REQUIRE(out);
    EXPECT_EQ(out.result.rtt, -1);
    EXPECT_GE(out.result.elapsedMs, 450);
    EXPECT_LE(out.result.elapsedMs, 2000);
}

namespace {

class IniReaders : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/utilities_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/Quillary.ini";
        std::ofstream(path_, std::ios::binary)
            << "[debugger]\r\nimitator=2\r\nrate=$10\r\nstate_change=abc\r\n"
               "[DLM]\r\nThread_Delay_Time = 250 \r\n"
               "[Сервер]\r\nЗадержка=0\r\n"_cp;
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_, path_;
};

} // namespace

TEST_F(IniReaders, IntegersByTheIntegerTextRules) {
    EXPECT_EQ(IniReadInteger(path_, "debugger", "rate", -1), 16);
    EXPECT_EQ(IniReadInteger(path_, "dlm", "thread_delay_time", 100), 250);
    EXPECT_EQ(IniReadInteger(path_, "debugger", "state_change", 7), 7);
    EXPECT_EQ(IniReadInteger(path_, "debugger", "missing", 7), 7);
    EXPECT_EQ(IniReadInteger(path_, "server", "delay_on_start", 3000), 3000);
    EXPECT_EQ(IniReadInteger(path_, "сЕРВЕР"_cp, "задержка"_cp, 3000), 0);
    EXPECT_EQ(IniReadInteger(dir_ + "/absent.ini", "DLM", "Thread_Delay_Time", 100), 100);
}

TEST_F(IniReaders, BooleansAreIntegersWithTheDefaultOtherwise) {
    EXPECT_TRUE(IniReadBool(path_, "debugger", "imitator", false));
    EXPECT_FALSE(IniReadBool(path_, "Сервер"_cp, "Задержка"_cp, true));
    EXPECT_TRUE(IniReadBool(path_, "debugger", "state_change", true));
    EXPECT_FALSE(IniReadBool(path_, "debugger", "state_change", false));
    EXPECT_TRUE(IniReadBool(dir_ + "/absent.ini", "debugger", "imitator", true));
    EXPECT_FALSE(IniReadBool(dir_ + "/absent.ini", "debugger", "imitator", false));
}
