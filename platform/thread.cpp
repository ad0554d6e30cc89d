#include "platform/thread.h"

#include "platform/clock.h"
#include "platform/messages.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace platform {

namespace {
std::atomic<int32_t> AbandonedCount{0};
thread_local TThread* currentThread = nullptr;
} // namespace

TThread::TThread() = default;

TThread::~TThread() {
    if (thread_.joinable()) {
        if (!Finished()) {
            // Freeing a running body would pull its memory from under it: stop loudly instead.
            std::fputs("platform: a running thread was freed\n", stderr);
            std::abort();
        }
        thread_.join();
    }
}

bool TThread::Resume() {
    std::lock_guard<std::mutex> guard(lock_);
    if (started_.load(std::memory_order_acquire)) return true;
    try {
        thread_ = std::thread(&TThread::Run, this);
    } catch (const std::system_error&) {
        return false;
    }
    started_.store(true, std::memory_order_release);
    return true;
}

void TThread::Terminate() {
    terminated_.store(true, std::memory_order_release);
    // Taken so that a sleeper between its test and its wait cannot miss the wake.
    { std::lock_guard<std::mutex> guard(sleepLock_); }
    wake_.notify_all();
}

bool TThread::CurrentTerminated() {
    return currentThread != nullptr && currentThread->Terminated();
}

void TThread::SleepUnlessTerminated(uint32_t ms) {
    TThread* t = currentThread;
    if (t == nullptr) {
        Sleep(ms);
        return;
    }
    std::unique_lock<std::mutex> lock(t->sleepLock_);
    t->wake_.wait_for(lock, std::chrono::milliseconds(ms), [t] { return t->Terminated(); });
}

void TThread::Run() {
    currentThread = this;
    try {
        Execute();
    } catch (...) {
        // A body that raises ends its thread, not the process.
    }
    currentThread = nullptr;
    bool selfFree;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finished_.store(true, std::memory_order_release);
        selfFree = abandoned_;
    }
    if (selfFree) {
        --AbandonedCount;
        delete this; // detached by Abandon: nothing else refers to it any more
    }
}

bool TThread::WaitFor(uint32_t timeoutMs) {
    if (!Started()) return true;
    if (!WaitDispatching([this] { return Finished(); }, timeoutMs)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (thread_.joinable()) thread_.join();
    return true;
}

bool TThread::Free(std::unique_ptr<TThread> thread, uint32_t timeoutMs) {
    if (!thread) return true;
    thread->Terminate();
    if (thread->WaitFor(timeoutMs)) return true; // freed by the unique_ptr
    Abandon(std::move(thread));
    return false;
}

void TThread::Abandon(std::unique_ptr<TThread> thread) {
    if (!thread) return;
    TThread* t = thread.release();
    {
        std::lock_guard<std::mutex> guard(t->lock_);
        if (t->started_.load(std::memory_order_acquire) && !t->finished_.load(std::memory_order_acquire)) {
            t->abandoned_ = true;
            ++AbandonedCount;
            t->thread_.detach();
            return;
        }
    }
    // Never started, or already returned: nothing runs on it.
    if (t->thread_.joinable()) t->thread_.join();
    delete t;
}

int32_t TThread::AbandonedRunning() {
    return AbandonedCount.load();
}

} // namespace platform
