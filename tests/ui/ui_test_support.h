// Qt offscreen for every test, whatever display the machine has, and waits that keep Qt's loop going.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace uitest {

// Set before any Qt object exists: each file including this sets it during its own static start-up.
[[maybe_unused]] inline const bool offscreen = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}();

constexpr int DeadlineMs = 10000;

// Runs Qt's loop until done() holds or the deadline passed; returns done().
inline bool SpinUntil(const std::function<bool()>& done, int timeoutMs = DeadlineMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// A thread the test joins once it has finished; one that is stuck past the deadline is a deadlock,
// and the run stops there rather than hanging.
class Worker {
public:
    explicit Worker(std::function<void()> body)
        : thread_([this, body = std::move(body)] {
              body();
              finished_.store(true);
          }) {}
    ~Worker() { Join(); }
    bool Finished() const { return finished_.load(); }
    void Join() {
        if (!thread_.joinable()) return;
        if (!SpinUntil([this] { return Finished(); })) {
            std::fprintf(stderr, "worker thread stuck\n");
            std::abort();
        }
        thread_.join();
    }

private:
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace uitest
