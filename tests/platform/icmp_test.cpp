#include "platform/clock.h"
#include "platform/icmp.h"

#include "platform/netns_child.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <thread>

using namespace platform;

namespace {

// Echo requests the current network namespace has sent.
long OutEchos() {
    FILE* f = fopen("/proc/net/snmp", "r");
    if (!f) return -1;
    char names[1024], values[1024];
    long result = -1;
    while (fgets(names, sizeof names, f) && fgets(values, sizeof values, f)) {
        if (strncmp(names, "Icmp:", 5) != 0) continue;
        char* sn = nullptr;
        char* sv = nullptr;
        for (char *n = strtok_r(names, " \n", &sn), *v = strtok_r(values, " \n", &sv); n && v;
             n = strtok_r(nullptr, " \n", &sn), v = strtok_r(nullptr, " \n", &sv))
            if (strcmp(n, "OutEchos") == 0) result = atol(v);
        break;
    }
    fclose(f);
    return result;
}

struct Timed {
    int32_t rtt;
    int64_t elapsedMs;
};

Timed TimedEcho(const char* address, int timeoutMs) {
    const uint64_t start = MonotonicMs();
    const int32_t rtt = IcmpEcho(address, timeoutMs);
    return Timed{rtt, static_cast<int64_t>(MonotonicMs() - start)};
}

enum class Kind { Raw, Datagram };

// Where an echo to the loopback answers or not, with the socket kind the test wants: as root the
// raw socket is taken; without CAP_NET_RAW only the datagram socket remains.
netns::Setup SetupFor(Kind kind, bool ignoreEcho) {
    netns::Setup s;
    s.ignoreEcho = ignoreEcho;
    if (kind == Kind::Datagram) {
        s.dropNetRaw = true;
        s.pingGroups = "0 2147483647";
    }
    return s;
}

Timed RawCheckedEcho(Kind kind, const char* address, int timeoutMs) {
    if (kind == Kind::Raw) {
        const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (fd < 0) return Timed{-2, 0};
        close(fd);
    }
    return TimedEcho(address, timeoutMs);
}

class IcmpBySocketKind : public ::testing::TestWithParam<Kind> {};

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::Raw ? "Raw" : "Datagram";
}

} // namespace

TEST(IcmpEcho, LoopbackAnswersFromItsOwnAddress) {
    if (!netns::IcmpSocketAllowed())
        GTEST_SKIP() << "neither a raw nor a datagram ICMP socket may be opened here";
    for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
        std::string source = "unset";
        const int32_t rtt = IcmpEcho(address, 2000, &source);
        EXPECT_GE(rtt, 0) << address;
        EXPECT_LT(rtt, 2000) << address;
        EXPECT_EQ(source, address);
    }
}

TEST(IcmpEcho, AnythingButTheDottedFormSendsNothing) {
    struct R {
        int wrong; // index + 1 of the first malformed address that did not give -1
        long before, afterBad, afterGood;
        int32_t good;
    };
    const auto out = netns::Run<R>(netns::Setup{}, [] {
        static const std::string bad[] = {
            "localhost",  "127.0.0",         "1.2.3.4.5",  "",
            "127.0.0.01", "127.000.000.001", " 127.0.0.1", "127.0.0.1 ",
            "0x7f.0.0.1", "127.1",           "2130706433", "256.0.0.1",
            "127.0.0.-1", "127..0.1",        "::1",        std::string("127.0.0.1\0junk", 14)};
        R r{};
        r.before = OutEchos();
        for (std::size_t i = 0; i < std::size(bad) && r.wrong == 0; ++i)
            if (IcmpEcho(bad[i], 300) != -1) r.wrong = static_cast<int>(i) + 1;
        r.afterBad = OutEchos();
        r.good = IcmpEcho("127.0.0.1", 2000);
        r.afterGood = OutEchos();
        return r;
    });
    NETNS_REQUIRE(out);
    EXPECT_EQ(out.result.wrong, 0);
    ASSERT_GE(out.result.before, 0) << "no ICMP counters";
    EXPECT_EQ(out.result.afterBad, out.result.before);
    // The counter does see a real echo, so the check above means something.
    EXPECT_GE(out.result.good, 0);
    EXPECT_EQ(out.result.afterGood, out.result.before + 1);
}

TEST_P(IcmpBySocketKind, LoopbackAnswers) {
    const Kind kind = GetParam();
    const auto out =
        netns::Run<Timed>(SetupFor(kind, false), [kind] { return RawCheckedEcho(kind, "127.0.0.1", 2000); });
    NETNS_REQUIRE(out);
    if (out.result.rtt == -2) GTEST_SKIP() << "no raw socket allowed";
    EXPECT_GE(out.result.rtt, 0);
    EXPECT_LE(out.result.rtt, out.result.elapsedMs);
}

// A raw socket sees our own request come back on the loopback; it is no answer.
TEST_P(IcmpBySocketKind, NoAnswerIsMinusOneAfterTheTimeout) {
    const Kind kind = GetParam();
    const auto out =
        netns::Run<Timed>(SetupFor(kind, true), [kind] { return RawCheckedEcho(kind, "127.0.0.1", 500); });
    NETNS_REQUIRE(out);
    if (out.result.rtt == -2) GTEST_SKIP() << "no raw socket allowed";
    EXPECT_EQ(out.result.rtt, -1);
    EXPECT_GE(out.result.elapsedMs, 450);
    EXPECT_LE(out.result.elapsedMs, 2000);
}

namespace {

// Watches the loopback for our echo request and answers it with replies made up from it.
class Forger {
public:
    Forger()
        : sniff_(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)),
          send_(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW)) {}
    ~Forger() {
        if (sniff_ >= 0) close(sniff_);
        if (send_ >= 0) close(send_);
    }
    bool Ok() const { return sniff_ >= 0 && send_ >= 0; }

    // The next echo request's ICMP message, empty after 3 s.
    std::string NextRequest() {
        const uint64_t until = MonotonicMs() + 3000;
        uint8_t buf[1500];
        while (MonotonicMs() < until) {
            pollfd p{sniff_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(until - MonotonicMs())) <= 0) continue;
            const ssize_t n = recv(sniff_, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 28) continue;
            const std::size_t ihl = (buf[0] & 0x0F) * 4u;
            if (buf[ihl] == 8)
                return std::string(reinterpret_cast<char*>(buf) + ihl, static_cast<std::size_t>(n) - ihl);
        }
        return {};
    }

    // Sends msg as an ICMP message from `from` to 127.0.0.1, with its checksum set unless told not.
    bool Send(std::string msg, const char* from, bool goodChecksum = true) {
        msg[2] = msg[3] = 0;
        uint32_t sum = 0;
        for (std::size_t i = 0; i + 1 < msg.size(); i += 2)
            sum +=
                static_cast<uint32_t>(static_cast<uint8_t>(msg[i]) << 8 | static_cast<uint8_t>(msg[i + 1]));
        if (msg.size() & 1) sum += static_cast<uint32_t>(static_cast<uint8_t>(msg.back()) << 8);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        const uint16_t ck = static_cast<uint16_t>(~sum ^ (goodChecksum ? 0 : 0x5A5A));
        msg[2] = static_cast<char>(ck >> 8);
        msg[3] = static_cast<char>(ck);
        uint8_t ip[20] = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, IPPROTO_ICMP};
        const uint16_t total = static_cast<uint16_t>(sizeof ip + msg.size());
        ip[2] = static_cast<uint8_t>(total >> 8);
        ip[3] = static_cast<uint8_t>(total);
        inet_pton(AF_INET, from, ip + 12);
        inet_pton(AF_INET, "127.0.0.1", ip + 16);
        std::string packet(reinterpret_cast<char*>(ip), sizeof ip);
        packet += msg;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        return sendto(send_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(packet.size());
    }

private:
    int sniff_, send_;
};

} // namespace

// Replies from another address, with another identifier or sequence, another payload, a non-zero code
// or a broken checksum are not our answer; a faithful one is.
TEST_P(IcmpBySocketKind, OnlyAFaithfulReplyFromTheTargetCounts) {
    const Kind kind = GetParam();
    struct R {
        bool forger;
        int sentBad, sentGood;
        Timed forged, faithful;
    };
    const auto out = netns::Run<R>(netns::Setup{true, false, "0 2147483647"}, [kind] {
        R r{};
        Forger forger; // opened while CAP_NET_RAW is still held
        r.forger = forger.Ok();
        if (!r.forger || (kind == Kind::Datagram && !netns::DropNetRaw())) return r;
        std::thread pinger([&r] { r.forged = TimedEcho("127.0.0.1", 700); });
        std::string req = forger.NextRequest();
        if (!req.empty()) {
            req[0] = 0; // echo reply
            std::string id = req, seq = req, data = req, code = req;
            id[4] ^= 1;
            seq[7] ^= 1;
            data.back() ^= 0x20;
            code[1] = 1;
            r.sentBad = forger.Send(req, "127.0.0.2") + forger.Send(id, "127.0.0.1") +
                        forger.Send(seq, "127.0.0.1") + forger.Send(data, "127.0.0.1") +
                        forger.Send(code, "127.0.0.1") + forger.Send(req, "127.0.0.1", false) +
                        forger.Send(req.substr(0, req.size() - 1), "127.0.0.1");
        }
        pinger.join();
        std::thread second([&r] { r.faithful = TimedEcho("127.0.0.1", 5000); });
        req = forger.NextRequest();
        if (!req.empty()) {
            req[0] = 0;
            r.sentGood = forger.Send(req, "127.0.0.1");
        }
        second.join();
        return r;
    });
    NETNS_REQUIRE(out);
    const R& r = out.result;
    ASSERT_TRUE(r.forger) << "no raw sockets to forge replies with";
    EXPECT_EQ(r.sentBad, 7);
    EXPECT_EQ(r.forged.rtt, -1);
    EXPECT_GE(r.forged.elapsedMs, 650);
    EXPECT_EQ(r.sentGood, 1);
    EXPECT_GE(r.faithful.rtt, 0);
    EXPECT_LT(r.faithful.elapsedMs, 5000);
}

INSTANTIATE_TEST_SUITE_P(Sockets, IcmpBySocketKind, ::testing::Values(Kind::Raw, Kind::Datagram), KindName);

TEST(IcmpEcho, NoUsableSocketIsMinusOne) {
    netns::Setup s;
    s.dropNetRaw = true;
    s.pingGroups = "1 0"; // nobody may open a datagram ICMP socket
    const auto out = netns::Run<Timed>(s, [] { return TimedEcho("127.0.0.1", 1000); });
    NETNS_REQUIRE(out);
    EXPECT_EQ(out.result.rtt, -1);
    EXPECT_LT(out.result.elapsedMs, 1000);
}
