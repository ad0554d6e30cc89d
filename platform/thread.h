// Threads as the system uses them: created suspended, resumed once, asked to terminate, waited for
// with a bound. A thread that does not stop in time is never freed while it runs: its owner hands it
// to Abandon, and it frees itself once its body returns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class TThread {
public:
    // Suspended: the body does not run before Resume.
    TThread();
    // Only for a thread that never ran or whose WaitFor gave true; Free and Abandon see to that.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the body; later calls do nothing. False when the system gave no thread.
    bool Resume();
    // Also wakes the body from SleepUnlessTerminated.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
    bool Started() const { return started_.load(std::memory_order_acquire); }
    // The body has returned.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

    // Waits up to timeoutMs for the body to return, dispatching the calling thread's window messages
    // meanwhile, so that a body sending to the caller's windows cannot deadlock it. True when the body
    // has returned, or the thread was never started.
    bool WaitFor(uint32_t timeoutMs);

    // Asks the thread to terminate, waits up to timeoutMs, and frees it when it stopped; otherwise
    // abandons it. True when it was freed here.
    static bool Free(std::unique_ptr<TThread> thread, uint32_t timeoutMs);
    // Leaves a running thread to itself: it frees itself when its body returns. One that already
    // returned is freed at once.
    static void Abandon(std::unique_ptr<TThread> thread);
    // Threads abandoned and still running, in this process.
    static int32_t AbandonedRunning();

    // Whether the calling thread runs the body of a TThread that was asked to terminate; false on
    // any other thread. Long waits of a body end on it, whatever their time-out.
    static bool CurrentTerminated();
    // Sleeps ms, or until the calling thread's TThread is asked to terminate, whichever comes first;
    // a thread that is no TThread sleeps the whole time.
    static void SleepUnlessTerminated(uint32_t ms);

protected:
    virtual void Execute() = 0;

private:
    void Run();

    std::atomic<bool> terminated_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    std::mutex lock_; // orders the body's end against Abandon
    bool abandoned_ = false;
    std::mutex sleepLock_;
    std::condition_variable wake_;
    std::thread thread_;
};

// Sets a flag for the life of a scope and puts back what it was: the guard of a step that the waits
// inside it may enter again.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~TFlagScope() { flag_ = old_; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
    const bool old_;
};

} // namespace platform
