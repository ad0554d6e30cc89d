// Qt offscreen for every test, whatever display the machine has, and waits that keep Qt's loop going.
#pragma once

#include "ui/application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

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

// Answers the modal window that the caller opens next, from inside its loop: the step runs on a
// zero-time timer when Qt's loop next turns. Keep the answer until the call that opens the window
// has returned. An answer that goes while its window never came fails the test and takes its timer
// with it, so that the step cannot fire later into another window, with what it refers to gone.
class [[nodiscard]] TModalAnswer {
public:
    explicit TModalAnswer(std::function<void(QWidget*)> step) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this, step = std::move(step)] {
            fired_ = true;
            QWidget* window = QApplication::activeModalWidget();
            if (window == nullptr) {
                ADD_FAILURE() << "no modal window when Qt's loop turned";
                return;
            }
            step(window);
        });
        ui::EnsureApplication(); // the timer needs the loop's thread to be the application's
        timer_.start(0);
    }
    ~TModalAnswer() {
        if (!fired_) ADD_FAILURE() << "no modal window came to be answered";
    }
    TModalAnswer(const TModalAnswer&) = delete;
    TModalAnswer& operator=(const TModalAnswer&) = delete;

private:
    QTimer timer_;
    bool fired_ = false;
};

inline TModalAnswer WhenModal(std::function<void(QWidget*)> step) {
    return TModalAnswer(std::move(step));
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
