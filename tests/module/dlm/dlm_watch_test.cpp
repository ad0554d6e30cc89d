// The server watch and the command hand-over of the module thread, with a stand-in server program
// that records its starts, or no server at all.
#include "dlm_test_support.h"

#include <atomic>
#include <thread>

namespace dlmtest {
namespace {

using intercom_test::TRawBlock;

// A host window on a thread of its own that does not pump until told to, and a module initialised
// on it whose thread is caught in a value send to that window.
struct TBlockedHost {
    std::unique_ptr<THostWindow> busy;
    std::atomic<bool> made{false}, pump{false}, finished{false};
    std::thread owner;
    TBlockedHost() {
        owner = std::thread([this] {
            busy = std::make_unique<THostWindow>();
            made = true;
            while (!pump.load())
                std::this_thread::yield();
            platform::WaitDispatching([&] { return finished.load(); }, 60000);
            busy.reset();
        });
    }
    ~TBlockedHost() {
        pump = true;
        finished = true;
        owner.join();
    }
};

class DlmWatch : public DlmTest {
protected:
    void StartOnBlockedHost(TBlockedHost& host) {
        WriteTags({Tag(10, "CMDSTATE", "")});
        WriteConfig(ConfigText({"DeviceAddress=\"1\" RoutingPrefix=\"A\" CommandStateName=\"CMDSTATE\""}, 60,
                               6000, false));
        ASSERT_NO_FATAL_FAILURE(Load());
        ASSERT_TRUE(WaitFor([&] { return host.made.load(); }));
        TInitRecord record = Record();
        record.HostWindow = static_cast<int32_t>(host.busy->Handle);
        ASSERT_EQ(module.Init(record), 0);
        TRawBlock area;
        ASSERT_TRUE(OpenArea(area));
        // The command-state tag is sent at first sight; the flush of the scan then waits on the window.
        ASSERT_TRUE(WaitFor([&] {
            const int32_t ticks = Ticks(area);
            return area.U8(intercom_test::kStatus + 256 + 256) == 8 &&
                   !WaitFor([&] { return Ticks(area) != ticks; }, 200);
        })) << Log();
    }
};

TEST_F(DlmWatch, TheServerIsStartedFromItsCommandLineAtMostOncePerCheckInterval) {
    UseRecordingServer();
    WriteConfig(ConfigText({}, 1));
    ASSERT_NO_FATAL_FAILURE(Load());
    const int64_t initAt = WallMs();
    ASSERT_EQ(module.Init(Record()), 0);
    // No server ever registers: the starts go on, one per second.
    ASSERT_TRUE(WaitFor([&] { return Starts().size() >= 4; })) << Log();
    const std::vector<TStart> starts = Starts();
    // Eleven ticks of 10 ms before the first check.
    EXPECT_GE(starts[0].WallMs - initAt, 100);
    EXPECT_LT(starts[0].WallMs - initAt, 3000);
    // The stand-in writes its time when the shell has started, which varies a little.
    for (std::size_t i = 1; i < starts.size(); ++i)
        EXPECT_GE(starts[i].WallMs - starts[i - 1].WallMs, 700) << i;
    EXPECT_GE(starts.back().WallMs - starts.front().WallMs,
              1000 * static_cast<int64_t>(starts.size() - 1) - 300);
    for (const TStart& s : starts) {
        EXPECT_EQ(s.Exe, (dir_ / "Quillary.srv").string());
        EXPECT_EQ(s.Cfg, (dir_ / "Quillary.cfg").string());
    }
    // The third failed start is reported, once.
    const std::string failed = "DLM::Ошибка запуска сервера доступа к устройству. " +
                               (dir_ / "Quillary.srv").string() + " " + (dir_ / "Quillary.cfg").string() +
                               ": -1";
    EXPECT_EQ(LogCount(failed), 1) << Log();

    // After the stop no server is started again, even on run.
    EXPECT_EQ(module.Stop(), 0);
    const std::size_t stopped = Starts().size();
    EXPECT_EQ(module.Run(), 0);
    EXPECT_EQ(module.Done(), 0);
    EXPECT_EQ(Starts().size(), stopped);
    module.Handle = nullptr;
}

// A server that cannot be started at all: the third attempt's line says why, once.
TEST_F(DlmWatch, AServerThatCannotBeStartedIsReportedWithWhy) {
    UseRecordingServer();
    fs::permissions(dir_ / "Quillary.srv", fs::perms::owner_read | fs::perms::owner_write);
    WriteConfig(ConfigText({}, 1));
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_EQ(module.Init(Record()), 0);
    const std::string failed = "DLM::Ошибка запуска сервера доступа к устройству. " +
                               (dir_ / "Quillary.srv").string() + " " + (dir_ / "Quillary.cfg").string() +
                               ": -1\r\n" + "DLM::Сервер доступа к устройству не запущен: ошибка 13.: -1";
    EXPECT_TRUE(WaitFor([&] { return LogCount(failed) == 1; })) << Log();
    EXPECT_EQ(module.Done(), 0);
    EXPECT_EQ(LogCount(failed), 1) << Log();
    module.Handle = nullptr;
}

// A server would close at its first tick without a host window and be started again for ever.
TEST_F(DlmWatch, NoHostWindowIsReportedOnceAndNoServerIsStarted) {
    UseRecordingServer();
    WriteConfig(ConfigText({}, 1));
    ASSERT_NO_FATAL_FAILURE(Load());
    TInitRecord record = Record();
    record.HostWindow = 0;
    ASSERT_EQ(module.Init(record), 0);
    ASSERT_EQ(module.Run(), 0);
    TRawBlock area;
    ASSERT_TRUE(OpenArea(area));
    // 150 ticks: the first check and a second interval are past, with many scans.
    const int32_t first = Ticks(area);
    ASSERT_TRUE(WaitFor([&] { return Ticks(area) - first >= 150; }));
    EXPECT_EQ(LogCount("Invalid message ID or HostWindow: 0"), 1) << Log();
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// A server that died holding the lock of the error list would make every later read wait and
// fail; the module frees it before it starts the next server, and the errors then come through in
// the order they were posted.
TEST_F(DlmWatch, ServerErrorsReachTheLogInOrderAfterADeadServersLockIsReleased) {
    UseRecordingServer();
    WriteConfig(ConfigText({}, 1));
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_EQ(module.Init(Record()), 0);
    TRawBlock area;
    ASSERT_TRUE(OpenArea(area));
    ASSERT_TRUE(WaitFor([&] { return Starts().size() >= 1; }));
    const std::size_t errors = intercom_test::Errors(0);
    const std::size_t before = Starts().size();
    area.Put<uint8_t>(errors + 4, 1); // held by the "dead" server
    for (int t = 0; t < 3; ++t)
        area.Put<uint8_t>(intercom_test::Terminal(0, t) + 8, 1);
    const std::vector<std::pair<int32_t, std::string>> posted = {
        {-11, "first error"}, {-12, "second error"}, {-9, "third"}};
    for (std::size_t i = 0; i < posted.size(); ++i) {
        const std::size_t record = errors + 16 + 272 * i;
        area.Put<int32_t>(record, posted[i].first);
        area.Put<uint8_t>(record + 16, static_cast<uint8_t>(posted[i].second.size()));
        std::memcpy(area.At(record + 17), posted[i].second.data(), posted[i].second.size());
    }
    area.Put<int32_t>(errors + 8, static_cast<int32_t>(posted.size()));

    ASSERT_TRUE(WaitFor([&] { return LogHas("third: -9"); })) << Log();
    EXPECT_TRUE(WaitFor([&] { return Starts().size() > before; }));
    const std::string log = Log();
    EXPECT_LT(log.find("first error: -11"), log.find("second error: -12"));
    EXPECT_LT(log.find("second error: -12"), log.find("third: -9"));
    EXPECT_EQ(area.I32(errors + 8), 0);
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(area.U8(intercom_test::Terminal(0, t) + 8), 0) << t;
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// A batch that no server takes is given up after Count x GeneralCommandInterval: the host gets
// the old values back and the command-state tag says 2.
TEST_F(DlmWatch, ABatchNobodyTakesIsGivenUpAndTheHostGetsItsOldValues) {
    WriteTags({Tag(1, "A1", "A: DEVICE=1; ADDRESS=1"), Tag(2, "A2", "A: DEVICE=1; ADDRESS=2"),
               Tag(3, "A3", "A: DEVICE=1; ADDRESS=3"), Tag(10, "CMDSTATE", "")});
    WriteConfig(ConfigText({"DeviceAddress=\"1\" RoutingPrefix=\"A\" CommandStateName=\"CMDSTATE\""}, 60, 300,
                           false));
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_EQ(module.Init(Record()), 0);
    ASSERT_EQ(module.Run(), 0);
    ASSERT_TRUE(WaitFor([&] { return host->Has(10, 0.0f); })) << Log();

    std::vector<unsigned char> block(8 + 20 * 3);
    const int32_t count = 3;
    std::memcpy(block.data() + 4, &count, 4);
    for (int32_t i = 0; i < 3; ++i) {
        const TValueEntry e{i + 1, 10.0f + static_cast<float>(i), 1.0f + static_cast<float>(i), 0, 0};
        std::memcpy(block.data() + 8 + 20 * i, &e, sizeof e);
    }
    const uint64_t written = platform::MonotonicMs();
    ASSERT_EQ(module.Write(block.data(), static_cast<int32_t>(block.size())), 0);
    ASSERT_TRUE(WaitFor([&] { return host->CountOf(3) > 0; })) << Log();
    EXPECT_GE(platform::MonotonicMs() - written, 900u);
    for (int32_t i = 0; i < 3; ++i) {
        bool found = false;
        for (const TValueEntry& v : host->Values) {
            if (v.VariableId != i + 1) continue;
            found = true;
            EXPECT_EQ(v.Value, 1.0f + static_cast<float>(i));
            EXPECT_EQ(v.OldValue, 10.0f + static_cast<float>(i));
        }
        EXPECT_TRUE(found) << i + 1;
    }
    EXPECT_TRUE(LogHas("Не возможно обработать команду.: -24")) << Log();
    ASSERT_TRUE(WaitFor([&] { return host->Has(10, 2.0f); })) << Log();
    TRawBlock area;
    ASSERT_TRUE(OpenArea(area));
    EXPECT_EQ(area.U8(intercom_test::Commands(3) + 532), 0);
    EXPECT_EQ(area.I32(intercom_test::Commands(3) + 528), 0);
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// A batch's age is kept on the monotonic clock: the region's wall-clock time stamp, moved back or
// forward as a clock setting would, neither gives the batch up at once nor keeps it for ever.
TEST_F(DlmWatch, ABatchIsGivenUpByItsMonotonicAgeWhateverItsWallClockStamp) {
    WriteTags({Tag(1, "A1", "A: DEVICE=1; ADDRESS=1")});
    WriteConfig(ConfigText({"DeviceAddress=\"1\" RoutingPrefix=\"A\""}, 60, 2000, false));
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_EQ(module.Init(Record()), 0);
    TRawBlock area;
    ASSERT_TRUE(OpenArea(area));
    const std::size_t commands = intercom_test::Commands(1);
    const std::vector<unsigned char> block = WriteBlock({{1, 5.0f, 1.0f, 0, 0}});
    ASSERT_EQ(module.Write(block.data(), static_cast<int32_t>(block.size())), 0);
    ASSERT_TRUE(WaitFor([&] { return area.U8(commands + 532) == 1; })) << Log();
    const uint64_t published = platform::MonotonicMs();

    // Stamped in 1899: by the wall clock far older than its 2000 ms, yet 30 ticks later it waits still.
    area.Put<double>(commands + 520, 0.0);
    const int32_t first = Ticks(area);
    ASSERT_TRUE(WaitFor([&] { return Ticks(area) - first >= 30; }));
    EXPECT_EQ(area.U8(commands + 532), 1) << Log();
    EXPECT_FALSE(LogHas(": -24")) << Log();

    // Stamped a century ahead: by the wall clock never old enough, yet given up after its 2000 ms.
    area.Put<double>(commands + 520, 73051.0);
    ASSERT_TRUE(WaitFor([&] { return area.U8(commands + 532) == 0 && LogHas(": -24"); })) << Log();
    EXPECT_GE(platform::MonotonicMs() - published, 1900u);
    ASSERT_TRUE(WaitFor([&] { return host->Has(1, 1.0f); })) << Log();
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// Without an exchange area (its name held by another process) the thread says so once, not on
// every pass, and starts no server; stop and shutdown still work.
TEST_F(DlmWatch, WithoutExchangeAreaTheThreadReportsItOnceAndStartsNoServer) {
    UseRecordingServer();
    WriteConfig(ConfigText({}, 1));
    ASSERT_NO_FATAL_FAILURE(Load());
    platform::TSharedMemory rival;
    ASSERT_EQ(rival.Create("Quillary.dat", 4096), platform::TSharedMemoryResult::Ok);
    ASSERT_EQ(module.Init(Record()), 0);
    ASSERT_EQ(module.Run(), 0);
    const std::string line = "DLM::IntercomInterface not initialized!: -1";
    ASSERT_TRUE(WaitFor([&] { return LogHas(line); })) << Log();
    // Passes come every millisecond: a repeat would show well within this.
    EXPECT_FALSE(WaitFor([&] { return LogCount(line) > 1; }, 1500)) << Log();
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_TRUE(LogHas("DLM::End of basic thread!: -1")) << Log();
    EXPECT_EQ(LogCount(line), 1) << Log();
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// A host whose window thread stops pumping holds the module thread inside its value message: the
// stop gives up waiting after about ten seconds, and once the window thread pumps again the
// thread ends and the shutdown is clean.
TEST_F(DlmWatch, StopReturnsAfterAboutTenSecondsWhenTheThreadCannotEnd) {
    TBlockedHost host;
    ASSERT_NO_FATAL_FAILURE(StartOnBlockedHost(host));

    const uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(module.Stop(), 0);
    const uint64_t waited = platform::MonotonicMs() - start;
    EXPECT_GE(waited, 9500u);
    EXPECT_LT(waited, 14000u);
    EXPECT_FALSE(LogHas("DLM::End of basic thread!")) << Log();

    host.pump = true;
    ASSERT_TRUE(WaitFor([&] { return LogHas("DLM::End of basic thread!"); })) << Log();
    EXPECT_EQ(module.Done(), 0);
    EXPECT_FALSE(AreaExists());
    EXPECT_EQ(host.busy->CountOf(10), 2) << "first sight, then the value at the thread's end";
    module.Handle = nullptr;
}

TEST_F(DlmWatch, AShutdownThatMustLeaveTheThreadKeepsWhatItUses) {
    TBlockedHost host;
    ASSERT_NO_FATAL_FAILURE(StartOnBlockedHost(host));

    // The shutdown gives the thread up; the driver object and everything else the thread may
    // still reach stay, while the host is told there is no driver any more.
    EXPECT_EQ(module.Done(), 0);
    EXPECT_FALSE(LogHas("DLM::End of basic thread!")) << Log();
    TIdentity info{};
    EXPECT_EQ(module.GetDeviceInfo(&info), -1);
    EXPECT_EQ(module.Init(Record()), -1);

    // Released, the thread ends on what was kept (the sanitizers would catch a use after free).
    host.pump = true;
    ASSERT_TRUE(WaitFor([&] { return LogHas("DLM::End of basic thread!"); })) << Log();
    EXPECT_EQ(host.busy->CountOf(10), 2) << "first sight, then the value at the thread's end";
    module.Handle = nullptr;
}

} // namespace
} // namespace dlmtest
