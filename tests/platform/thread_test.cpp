#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/messages.h"

using namespace platform;

namespace {

constexpr uint32_t Deadline = 10000;

bool WaitUntil(const std::function<bool()>& done) {
    return WaitDispatching(done, Deadline);
}

// Runs body until asked to stop, unless `stubborn` keeps it going; tells the test when it is freed.
class TTestThread : public TThread {
public:
    TTestThread(std::function<void(TTestThread&)> body, std::atomic<bool>* freed = nullptr)
        : body_(std::move(body)), freed_(freed) {}
    ~TTestThread() override {
        if (freed_) freed_->store(true);
    }
    bool StopRequested() const { return Terminated(); }
    std::atomic<int> Passes{0};

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(TTestThread&)> body_;
    std::atomic<bool>* freed_;
};

void LoopUntilTerminated(TTestThread& t) {
    while (!t.StopRequested()) {
        ++t.Passes;
        Sleep(1);
    }
}

TEST(Thread, RunsOnlyAfterResumeAndStopsWhenAsked) {
    TTestThread t(LoopUntilTerminated);
    EXPECT_FALSE(t.Started());
    EXPECT_TRUE(t.WaitFor(0)); // nothing to wait for before it runs
    EXPECT_EQ(t.Passes.load(), 0);
    ASSERT_TRUE(t.Resume());
    EXPECT_TRUE(t.Resume()); // a second resume starts nothing new
    ASSERT_TRUE(WaitUntil([&] { return t.Passes.load() > 2; }));
    EXPECT_FALSE(t.WaitFor(20)); // still running: the bound holds
    t.Terminate();
    EXPECT_TRUE(t.WaitFor(Deadline));
    EXPECT_TRUE(t.Finished());
}

TEST(Thread, FreeOfAStoppingThreadFreesIt) {
    std::atomic<bool> freed{false};
    auto t = std::make_unique<TTestThread>(LoopUntilTerminated, &freed);
    ASSERT_TRUE(t->Resume());
    EXPECT_TRUE(TThread::Free(std::move(t), Deadline));
    EXPECT_TRUE(freed.load());
}

TEST(Thread, ANeverStartedThreadIsFreedAtOnce) {
    std::atomic<bool> freed{false};
    EXPECT_TRUE(TThread::Free(std::make_unique<TTestThread>(LoopUntilTerminated, &freed), 0));
    EXPECT_TRUE(freed.load());
}

// The fault this guards against: a thread still running after the bound was freed under its feet.
TEST(Thread, AThreadThatDoesNotStopIsLeftRunningAndFreesItselfLater) {
    std::atomic<bool> release{false};
    std::atomic<bool> freed{false};
    const int32_t abandonedBefore = TThread::AbandonedRunning();
    auto t = std::make_unique<TTestThread>(
        [&](TTestThread& self) {
            while (!release.load()) {
                ++self.Passes; // touches its own object after the owner gave up on it
                Sleep(1);
            }
        },
        &freed);
    TTestThread* raw = t.get();
    ASSERT_TRUE(t->Resume());
    ASSERT_TRUE(WaitUntil([&] { return raw->Passes.load() > 0; }));
    EXPECT_FALSE(TThread::Free(std::move(t), 50));
    EXPECT_FALSE(freed.load());
    EXPECT_EQ(TThread::AbandonedRunning(), abandonedBefore + 1);
    const int passes = raw->Passes.load();
    ASSERT_TRUE(WaitUntil([&] { return freed.load() || raw->Passes.load() > passes + 2; }));
    EXPECT_FALSE(freed.load()) << "a running thread was freed";
    release.store(true);
    ASSERT_TRUE(WaitUntil([&] { return freed.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return TThread::AbandonedRunning() == abandonedBefore; }));
}

TEST(Thread, WaitingKeepsDispatchingWhatTheThreadSendsToTheWaiter) {
    std::atomic<int> handled{0};
    const HWND wnd = CreateWindowHandle([&](HWND, UINT, WPARAM w, LPARAM) -> LRESULT {
        ++handled;
        return static_cast<LRESULT>(w) * 2;
    });
    ASSERT_NE(wnd, 0u);
    std::atomic<LRESULT> answer{0};
    TTestThread t([&](TTestThread&) { answer = SendMessage(wnd, 1357, 21, 0); });
    ASSERT_TRUE(t.Resume());
    // The sender blocks until this thread dispatches; a wait that did not would never end.
    EXPECT_TRUE(t.WaitFor(Deadline));
    EXPECT_EQ(answer.load(), 42);
    EXPECT_EQ(handled.load(), 1);
    DestroyWindowHandle(wnd);
}

TEST(Thread, ABodyThatRaisesEndsOnlyItsThread) {
    TTestThread t([](TTestThread&) { throw std::runtime_error("boom"); });
    ASSERT_TRUE(t.Resume());
    EXPECT_TRUE(t.WaitFor(Deadline));
    EXPECT_TRUE(t.Finished());
}

} // namespace
