// Timers of the application thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace ui {

class TTimer {
public:
    // Disabled, 1000 ms.
    TTimer();
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    // A timer with interval 0 does not fire.
    void SetInterval(uint32_t ms);
    uint32_t Interval() const { return interval_; }
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    std::function<void()> OnTimer;

private:
    void Update();
    std::unique_ptr<QTimer> timer_;
    uint32_t interval_ = 1000;
    bool enabled_ = false;
};

} // namespace ui
