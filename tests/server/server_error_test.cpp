#include "server/server_error.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "framework/intercom.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "server/server_globals.h"
#include "server_test_support.h"

namespace fs = std::filesystem;
using framework::Intercom;
using framework::TIntercomInterface;
using server::TServerErrorClass;

namespace {

struct TLogLine {
    int32_t code;
    std::string text;
};

// A server window stand-in on the test thread: it keeps what WM_SERVERLOG brought.
class TLogWindow {
public:
    TLogWindow() {
        handle = platform::CreateWindowHandle([this](platform::HWND, platform::UINT msg, platform::WPARAM w,
                                                     platform::LPARAM l) -> platform::LRESULT {
            if (msg != TServerErrorClass::kServerLogMessage) return 0;
            std::lock_guard<std::mutex> g(lock);
            lines.push_back(
                {static_cast<int32_t>(static_cast<intptr_t>(w)), reinterpret_cast<const char*>(l)});
            return 0;
        });
    }
    ~TLogWindow() { platform::DestroyWindowHandle(handle); }
    std::vector<TLogLine> Lines() {
        std::lock_guard<std::mutex> g(lock);
        return lines;
    }

    platform::HWND handle = 0;
    std::mutex lock;
    std::vector<TLogLine> lines;
};

class ServerErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        servertest::UseRunNamespace();
        framework::ServerSlotIndex = 0;
        area = TIntercomInterface::Create(4, "Quillary.dat");
        ASSERT_TRUE(area && area->IsOpen());
        Intercom = area.get();
        server::ServerClosing = false;
    }
    void TearDown() override {
        Intercom = nullptr;
        server::ServerClosing = false;
        area.reset();
        framework::ServerSlotIndex = -1;
    }
    std::vector<TLogLine> AreaRecords() {
        framework::TServerErrorRegion r;
        area->ServerErrorList.ReadAll(r, false);
        std::vector<TLogLine> out;
        for (int32_t i = 0; i < r.Count && i < 100; ++i)
            out.push_back({r.Records[i].Code, r.Records[i].Text.Get()});
        return out;
    }

    std::unique_ptr<TIntercomInterface> area;
    TLogWindow window;
};

} // namespace

TEST_F(ServerErrorTest, EveryReportGoesToTheAreaAndTheWindowAndNotToTheOwnLog) {
    TServerErrorClass errors(window.handle);
    errors.WriteError(-9, 17, nullptr);
    const framework::Exception failure("Сбой потока."_cp);
    errors.WriteError(-1, 0, &failure);
    errors.WriteMessage(0, "x");
    const std::vector<std::pair<int32_t, std::string>> expected = {
        {-9, "Ошибка CRC в ответе устройства 17."_cp}, {-1, "Сбой потока."_cp}, {0, "x"}};
    const auto records = AreaRecords();
    const auto lines = window.Lines();
    ASSERT_EQ(records.size(), expected.size());
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].code, expected[i].first);
        EXPECT_EQ(records[i].text, expected[i].second);
        EXPECT_EQ(lines[i].code, expected[i].first);
        EXPECT_EQ(lines[i].text, expected[i].second);
    }
    EXPECT_EQ(errors.Log->GetText(), "");
}

TEST_F(ServerErrorTest, AReportFromAnotherThreadWaitsForTheWindowToTakeIt) {
    TServerErrorClass errors(window.handle);
    std::atomic<bool> returned{false};
    std::size_t seenOnReturn = 0;
    std::thread reporter([&] {
        errors.WriteMessage(-1, platform::Cp("Потеря связи с устройством."));
        seenOnReturn = window.Lines().size();
        returned = true;
    });
    EXPECT_TRUE(platform::WaitDispatching([&] { return returned.load(); }, 5000));
    reporter.join();
    EXPECT_EQ(seenOnReturn, 1u); // the handler had run before the report returned
}

TEST_F(ServerErrorTest, OnceClosingNothingIsSentToTheWindowButTheAreaStillGetsIt) {
    TServerErrorClass errors(window.handle);
    server::ServerClosing = true;
    // The window thread does not dispatch here, as it would not while it is destroyed: a report that
    // sent to it would never return.
    std::atomic<bool> returned{false};
    std::thread reporter([&] {
        errors.WriteMessage(-1, "late");
        returned = true;
    });
    const uint64_t deadline = platform::MonotonicMs() + 5000;
    while (!returned && platform::MonotonicMs() < deadline)
        std::this_thread::yield();
    EXPECT_TRUE(returned.load());
    if (!returned) platform::WaitDispatching([&] { return returned.load(); }, 5000); // free it to fail
    reporter.join();
    platform::ProcessMessages();
    EXPECT_TRUE(window.Lines().empty());
    ASSERT_EQ(AreaRecords().size(), 1u);
    EXPECT_EQ(AreaRecords()[0].text, "late");
}

TEST_F(ServerErrorTest, ADisabledObjectOrAMissingAreaDropsEveryReport) {
    TServerErrorClass errors(window.handle);
    errors.Enabled = false;
    errors.WriteMessage(-1, "dropped");
    errors.WriteError(-9, 1, nullptr);
    errors.Enabled = true;
    Intercom = nullptr;
    errors.WriteMessage(-1, "dropped too");
    EXPECT_TRUE(window.Lines().empty());
    EXPECT_TRUE(AreaRecords().empty());
}

TEST_F(ServerErrorTest, RecordsBeyondTheListAreLostButTheWindowGetsThemAll) {
    TServerErrorClass errors(window.handle);
    for (int i = 0; i < 105; ++i)
        errors.WriteMessage(-i, "n" + platform::IntToStr(i));
    EXPECT_EQ(AreaRecords().size(), 100u);
    ASSERT_EQ(window.Lines().size(), 105u);
    EXPECT_EQ(window.Lines()[104].code, -104);
}

TEST_F(ServerErrorTest, AServerRunsOnlyWithALiveProcessAndALiveWindowInTheSlot) {
    EXPECT_FALSE(server::IsServerRunning()); // empty slot
    area->ServerData.SetProcessId(static_cast<int32_t>(getpid()));
    EXPECT_FALSE(server::IsServerRunning()); // no window
    area->ServerData.SetWindow(static_cast<int32_t>(window.handle));
    EXPECT_TRUE(server::IsServerRunning());

    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    area->ServerData.SetProcessId(static_cast<int32_t>(child));
    EXPECT_FALSE(server::IsServerRunning()); // the process is gone

    area->ServerData.SetProcessId(static_cast<int32_t>(getpid()));
    {
        TLogWindow gone;
        area->ServerData.SetWindow(static_cast<int32_t>(gone.handle));
        EXPECT_TRUE(server::IsServerRunning());
    }
    EXPECT_FALSE(server::IsServerRunning()); // its window was destroyed
    Intercom = nullptr;
    area->ServerData.SetWindow(static_cast<int32_t>(window.handle));
    EXPECT_FALSE(server::IsServerRunning()); // no area
}

TEST(RemoteLogSave, TheTextGoesOutWithoutTerminatorAndReplacesTheFile) {
    framework::TTerminalDataClass log;
    log.AddLine("/------ Client and Server params -------/");
    log.AddLine("Устройство не найдено или недоступно."_cp);
    std::ostringstream stream;
    EXPECT_TRUE(server::SaveLogToStream(log, stream));
    EXPECT_EQ(stream.str(), log.GetText());

    const fs::path dir = fs::temp_directory_path() / ("remote-log-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "remote.txt";
    {
        std::ofstream old(file, std::ios::binary);
        old << std::string(100000, 'o');
    }
    EXPECT_TRUE(server::SaveLogToFile(log, file.string()));
    std::ifstream in(file, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, log.GetText());

    // A blank name or a folder that is not there: nothing written, nothing raised.
    EXPECT_FALSE(server::SaveLogToFile(log, "  "));
    EXPECT_FALSE(server::SaveLogToFile(log, (dir / "missing" / "remote.txt").string()));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    fs::remove_all(dir);
}
