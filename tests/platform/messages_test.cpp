#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace platform;

namespace {

constexpr uint32_t Deadline = 10000;
constexpr UINT WM_DRIVERERROR = 3246;

// A thread whose end the test waits for with a deadline, dispatching its own messages meanwhile. A
// thread that misses it is stuck for good (a deadlock), so the run stops there.
class Worker {
public:
    explicit Worker(std::function<void()> body)
        : thread_([this, body = std::move(body)] {
              body();
              finished_.store(true);
          }) {}
    ~Worker() {
        if (thread_.joinable()) Join();
    }
    void Join() {
        if (!WaitDispatching([this] { return finished_.load(); }, Deadline)) {
            std::fprintf(stderr, "worker thread did not finish: deadlock\n");
            std::abort();
        }
        thread_.join();
    }

private:
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Counts the wake-ups of a thread's queue, so a test can wait until messages are queued without
// dispatching them.
class WakeCounter {
public:
    void Install() {
        SetThreadWakeHook([this] {
            std::lock_guard lock(mu_);
            ++count_;
            cv_.notify_all();
        });
    }
    bool WaitFor(int count) {
        std::unique_lock lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(Deadline), [&] { return count_ >= count; });
    }
    int Count() {
        std::lock_guard lock(mu_);
        return count_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    int count_ = 0;
};

struct ErrorRecord {
    int code;
    char text[64];
};

} // namespace

TEST(WindowSend, FromAnotherThreadRunsOnTheOwnerAndReturnsTheHandlersResult) {
    const auto owner = std::this_thread::get_id();
    std::thread::id ranOn;
    std::string seenText;
    int seenCode = 0;
    const HWND wnd = CreateWindowHandle([&](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        ranOn = std::this_thread::get_id();
        if (msg != WM_DRIVERERROR || wParam != 2222) return -1;
        // The record lives on the sender's stack; it is valid for as long as the call lasts.
        auto* record = reinterpret_cast<ErrorRecord*>(lParam);
        seenCode = record->code;
        seenText = record->text;
        std::strcpy(record->text, "read");
        return 4321;
    });
    ASSERT_NE(wnd, 0u);

    LRESULT result = 0;
    std::string afterCall;
    Worker sender([&] {
        ErrorRecord record{-17, {}};
        std::strcpy(record.text, "port closed");
        result = SendMessage(wnd, WM_DRIVERERROR, 2222, reinterpret_cast<LPARAM>(&record));
        afterCall = record.text;
    });
    sender.Join();

    EXPECT_EQ(result, 4321);
    EXPECT_EQ(ranOn, owner);
    EXPECT_EQ(seenCode, -17);
    EXPECT_EQ(seenText, "port closed");
    EXPECT_EQ(afterCall, "read") << "the sender went on before the handler had finished";
    EXPECT_TRUE(DestroyWindowHandle(wnd));
}

TEST(WindowSend, OnTheOwnerThreadCallsTheProcedureAtOnceAndNests) {
    HWND wnd = 0;
    int depth = 0, deepest = 0;
    wnd = CreateWindowHandle([&](HWND self, UINT, WPARAM wParam, LPARAM) -> LRESULT {
        deepest = std::max(deepest, ++depth);
        const LRESULT r = wParam == 0 ? 0 : SendMessage(self, 1, wParam - 1, 0) + 1;
        --depth;
        return r;
    });
    ASSERT_NE(wnd, 0u);
    EXPECT_EQ(SendMessage(wnd, 1, 10, 0), 10);
    EXPECT_EQ(deepest, 11);
    EXPECT_FALSE(ProcessMessages()) << "a send on the owner thread must not be queued";
    DestroyWindowHandle(wnd);
}

TEST(WindowSend, TwoThreadsSendingToEachOtherDoNotDeadlock) {
    constexpr int Rounds = 300;
    std::atomic<HWND> windows[2] = {0, 0};
    std::atomic<int> finished{0};
    int good[2] = {0, 0};
    auto side = [&](int me) {
        windows[me] = CreateWindowHandle(
            [](HWND, UINT, WPARAM wParam, LPARAM) -> LRESULT { return static_cast<LRESULT>(wParam) * 2; });
        WaitDispatching([&] { return windows[1 - me].load() != 0; }, Deadline);
        for (int i = 1; i <= Rounds; ++i) {
            if (SendMessage(windows[1 - me], 7, i, 0) == 2 * i) ++good[me];
        }
        ++finished;
        // Our window must live until the other side has finished sending to it.
        WaitDispatching([&] { return finished.load() == 2; }, Deadline);
        DestroyWindowHandle(windows[me]);
    };
    Worker a([&] { side(0); });
    Worker b([&] { side(1); });
    a.Join();
    b.Join();
    EXPECT_EQ(good[0], Rounds);
    EXPECT_EQ(good[1], Rounds);
}

TEST(WindowSend, AHandlerMaySendBackToTheThreadThatWaitsForIt) {
    std::atomic<HWND> workerWnd{0};
    const HWND mainWnd = CreateWindowHandle([&](HWND, UINT, WPARAM wParam, LPARAM) -> LRESULT {
        return SendMessage(workerWnd, 2, wParam, 0) + 1;
    });
    LRESULT result = 0;
    Worker worker([&] {
        workerWnd = CreateWindowHandle(
            [](HWND, UINT, WPARAM wParam, LPARAM) -> LRESULT { return static_cast<LRESULT>(wParam) * 10; });
        result = SendMessage(mainWnd, 1, 4, 0);
        DestroyWindowHandle(workerWnd);
    });
    worker.Join();
    EXPECT_EQ(result, 41);
    DestroyWindowHandle(mainWnd);
}

TEST(WindowSend, AHandlerThatThrowsStillAnswersTheSender) {
    const HWND wnd = CreateWindowHandle(
        [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("handler failed"); });
    WakeCounter wakes;
    wakes.Install();
    LRESULT result = -1;
    Worker sender([&] { result = SendMessage(wnd, 1, 0, 0); });
    ASSERT_TRUE(wakes.WaitFor(1));
    EXPECT_THROW(ProcessMessages(), std::runtime_error);
    sender.Join();
    EXPECT_EQ(result, 0);
    SetThreadWakeHook({});
    DestroyWindowHandle(wnd);
}

TEST(WindowDestroy, AnswersPendingSendsZeroAndDropsPostedMessages) {
    std::atomic<int> calls{0};
    const HWND wnd = CreateWindowHandle([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++calls; });
    WakeCounter wakes;
    wakes.Install();
    constexpr int Senders = 4;
    std::vector<LRESULT> results(Senders, -1);
    std::vector<std::unique_ptr<Worker>> senders;
    for (int i = 0; i < Senders; ++i) {
        senders.push_back(std::make_unique<Worker>([&, i] { results[i] = SendMessage(wnd, 5, i, 0); }));
    }
    EXPECT_TRUE(PostMessage(wnd, 6, 0, 0));
    ASSERT_TRUE(wakes.WaitFor(Senders + 1)) << "the sends were never queued";

    EXPECT_TRUE(DestroyWindowHandle(wnd));
    for (auto& s : senders)
        s->Join();
    for (LRESULT r : results)
        EXPECT_EQ(r, 0);
    EXPECT_FALSE(ProcessMessages());
    EXPECT_EQ(calls.load(), 0);

    // A removed hook is no longer called.
    SetThreadWakeHook({});
    const int before = wakes.Count();
    const HWND other = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    Worker poster([&] { PostMessage(other, 1, 0, 0); });
    poster.Join();
    EXPECT_EQ(wakes.Count(), before);
    DestroyWindowHandle(other);
}

TEST(WindowDestroy, IsWindowAndMessagesFollowTheWindowsLife) {
    int calls = 0;
    const HWND wnd = CreateWindowHandle([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++calls; });
    ASSERT_NE(wnd, 0u);
    EXPECT_TRUE(IsWindow(wnd));
    EXPECT_FALSE(IsWindow(0));
    EXPECT_EQ(CreateWindowHandle(WindowProc{}), 0u);

    bool foreignDestroy = true;
    Worker other([&] { foreignDestroy = DestroyWindowHandle(wnd); });
    other.Join();
    EXPECT_FALSE(foreignDestroy) << "only the owner thread may destroy a live thread's window";
    EXPECT_TRUE(IsWindow(wnd));

    EXPECT_TRUE(DestroyWindowHandle(wnd));
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(DestroyWindowHandle(wnd));
    EXPECT_EQ(SendMessage(wnd, 1, 0, 0), 0);
    EXPECT_FALSE(PostMessage(wnd, 1, 0, 0));
    EXPECT_EQ(calls, 0);
}

TEST(WindowDestroy, AThreadThatEndsTakesItsWindowsWithIt) {
    std::atomic<HWND> wnd{0};
    std::atomic<bool> sendQueued{false};
    std::atomic<bool> handlerRan{false};
    Worker owner([&] {
        WakeCounter wakes;
        wakes.Install();
        wnd = CreateWindowHandle([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
            handlerRan = true;
            return 1;
        });
        sendQueued = wakes.WaitFor(1);
        SetThreadWakeHook({});
        // Ends without dispatching.
    });
    WaitDispatching([&] { return wnd.load() != 0; }, Deadline);
    LRESULT result = -1;
    Worker sender([&] { result = SendMessage(wnd, 1, 0, 0); });
    owner.Join();
    sender.Join();
    EXPECT_TRUE(sendQueued.load());
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(handlerRan.load());
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_EQ(SendMessage(wnd, 1, 0, 0), 0);
    EXPECT_FALSE(PostMessage(wnd, 1, 0, 0));
}

TEST(WindowPost, KeepsTheOrderOfEachSender) {
    constexpr int PerSender = 1000;
    std::vector<WPARAM> received;
    const HWND wnd = CreateWindowHandle([&](HWND, UINT, WPARAM wParam, LPARAM) -> LRESULT {
        received.push_back(wParam);
        return 0;
    });
    std::atomic<int> accepted{0};
    auto poster = [&](WPARAM source) {
        for (int i = 0; i < PerSender; ++i) {
            if (PostMessage(wnd, 9, (source << 16) | i, 0)) ++accepted;
        }
    };
    Worker a([&] { poster(1); });
    Worker b([&] { poster(2); });
    a.Join();
    b.Join();
    EXPECT_EQ(accepted.load(), 2 * PerSender);
    ASSERT_TRUE(WaitDispatching([&] { return received.size() == 2 * PerSender; }, Deadline));
    int next[3] = {0, 0, 0};
    for (WPARAM w : received) {
        const WPARAM source = w >> 16;
        ASSERT_TRUE(source == 1 || source == 2);
        ASSERT_EQ(static_cast<int>(w & 0xFFFF), next[source]) << "out of order from sender " << source;
        ++next[source];
    }
    DestroyWindowHandle(wnd);
}

TEST(WindowPost, AProcedurePostingToItselfDoesNotHoldProcessMessages) {
    int calls = 0;
    const HWND wnd = CreateWindowHandle([&](HWND self, UINT, WPARAM, LPARAM) -> LRESULT {
        ++calls;
        PostMessage(self, 1, 0, 0);
        return 0;
    });
    PostMessage(wnd, 1, 0, 0);
    EXPECT_TRUE(ProcessMessages());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(ProcessMessages());
    EXPECT_EQ(calls, 2);
    DestroyWindowHandle(wnd);
    EXPECT_FALSE(ProcessMessages());
}

TEST(WindowHandles, AreNonZeroUniqueAndNotSoonReused) {
    constexpr int PerThread = 2000;
    auto proc = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    std::vector<HWND> a, b;
    auto make = [&](std::vector<HWND>& out) {
        for (int i = 0; i < PerThread; ++i)
            out.push_back(CreateWindowHandle(proc));
        for (HWND h : out)
            DestroyWindowHandle(h);
    };
    Worker ta([&] { make(a); });
    Worker tb([&] { make(b); });
    ta.Join();
    tb.Join();
    std::set<HWND> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 2u * PerThread);
    EXPECT_EQ(all.count(0), 0u);

    const HWND gone = CreateWindowHandle(proc);
    DestroyWindowHandle(gone);
    std::vector<HWND> later;
    for (int i = 0; i < 1000; ++i)
        later.push_back(CreateWindowHandle(proc));
    for (HWND h : later) {
        EXPECT_NE(h, gone) << "a destroyed handle came back at once";
        DestroyWindowHandle(h);
    }
}

namespace {

struct HostContext {
    int calls = 0;
    std::set<uint32_t> messages;
};

intptr_t HostProc(void* context, uint32_t, uint32_t msg, uintptr_t wParam, intptr_t) {
    auto* host = static_cast<HostContext*>(context);
    ++host->calls;
    host->messages.insert(msg);
    return static_cast<intptr_t>(wParam) + 1000;
}

} // namespace

TEST(WindowCApi, AHostCreatesAWindowAndPumpsIt) {
    EXPECT_EQ(ostro_create_window(nullptr, nullptr), 0u);
    HostContext host;
    std::atomic<uint32_t> wnd{0};
    std::atomic<bool> stop{false};
    int pumpedWhenIdle = -1;
    Worker hostThread([&] {
        const uint32_t created = ostro_create_window(&HostProc, &host);
        pumpedWhenIdle = ostro_pump_messages(0);
        wnd = created;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Deadline);
        while (!stop.load() && std::chrono::steady_clock::now() < until)
            ostro_pump_messages(20);
        ostro_destroy_window(wnd);
    });
    ASSERT_TRUE(WaitDispatching([&] { return wnd.load() != 0; }, Deadline));
    EXPECT_EQ(ostro_is_window(wnd), 1);
    EXPECT_EQ(ostro_post_message(wnd, 0x10, 0, 0), 1);
    EXPECT_EQ(ostro_send_message(wnd, 0x401, 5, 0), 1005);
    stop = true;
    hostThread.Join();
    EXPECT_EQ(pumpedWhenIdle, 0);
    EXPECT_EQ(host.calls, 2);
    EXPECT_EQ(host.messages, (std::set<uint32_t>{0x10, 0x401}));
    EXPECT_EQ(ostro_is_window(wnd), 0);
    EXPECT_EQ(ostro_send_message(wnd, 0x401, 5, 0), 0);
}

// Another process of the namespace, started from this test program: it takes handles while the test
// does, reports them, and dies holding them.
namespace {

constexpr int ChildWindows = 1500;

bool ReadAll(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, Deadline) <= 0) return false;
        const ssize_t got = ::read(fd, p, size);
        if (got <= 0) return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put <= 0) return false;
        p += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

int RunWindowChild() {
    char go = 0;
    if (!WriteAll(4, "R", 1) || !ReadAll(3, &go, 1)) return 1;
    std::vector<HWND> handles;
    for (int i = 0; i < ChildWindows; ++i) {
        handles.push_back(CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }));
    }
    if (!WriteAll(4, handles.data(), handles.size() * sizeof(HWND))) return 1;
    // Hold the windows until the test closes its end, then die without destroying them.
    pollfd pfd{3, POLLIN, 0};
    ::poll(&pfd, 1, 60000);
    return 0;
}

[[maybe_unused]] const bool windowChild = [] {
    if (std::getenv("QUILLARY_WINDOW_CHILD") != nullptr) ::_exit(RunWindowChild());
    return false;
}();

} // namespace

TEST(WindowProcesses, HandlesAreUniqueAcrossProcessesAndDieWithTheirOwner) {
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Moved above 4 first, so that placing them on 3 and 4 cannot overwrite one with the other.
    const int childIn = ::fcntl(toChild[0], F_DUPFD_CLOEXEC, 10);
    const int childOut = ::fcntl(fromChild[1], F_DUPFD_CLOEXEC, 10);
    posix_spawn_file_actions_adddup2(&actions, childIn, 3);
    posix_spawn_file_actions_adddup2(&actions, childOut, 4);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    env.emplace_back("QUILLARY_WINDOW_CHILD=1");
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(childIn);
    ::close(childOut);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    ASSERT_EQ(spawned, 0);

    char ready = 0;
    ASSERT_TRUE(ReadAll(fromChild[0], &ready, 1));
    ASSERT_TRUE(WriteAll(toChild[1], "G", 1));
    std::vector<HWND> mine;
    for (int i = 0; i < ChildWindows; ++i) {
        mine.push_back(CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }));
    }
    std::vector<HWND> theirs(ChildWindows);
    ASSERT_TRUE(ReadAll(fromChild[0], theirs.data(), theirs.size() * sizeof(HWND)));

    std::set<HWND> all(mine.begin(), mine.end());
    all.insert(theirs.begin(), theirs.end());
    EXPECT_EQ(all.size(), 2u * ChildWindows);
    EXPECT_EQ(all.count(0), 0u);
    int liveTheirs = 0;
    for (HWND h : theirs)
        liveTheirs += IsWindow(h) ? 1 : 0;
    EXPECT_EQ(liveTheirs, ChildWindows);
    EXPECT_EQ(SendMessage(theirs[0], 1, 0, 0), 0) << "a send to another process is not delivered";

    // The child ends when its input closes; left unreaped it is a zombie, which counts as dead.
    ::close(toChild[1]);
    char rest = 0;
    pollfd pfd{fromChild[0], POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, Deadline), 1);
    EXPECT_EQ(::read(fromChild[0], &rest, 1), 0);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(info.si_status, 0);
    liveTheirs = 0;
    for (HWND h : theirs)
        liveTheirs += IsWindow(h) ? 1 : 0;
    EXPECT_EQ(liveTheirs, 0);
    ::waitpid(child, nullptr, 0);
    ::close(fromChild[0]);

    for (HWND h : mine) {
        EXPECT_TRUE(IsWindow(h));
        DestroyWindowHandle(h);
    }
}
