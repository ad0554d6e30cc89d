#include "ui/timer.h"

#include "ui/application.h"

#include <QTimer>

#include <algorithm>
#include <climits>

namespace ui {

TTimer::TTimer() {
    EnsureApplication();
    timer_ = std::make_unique<QTimer>();
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { RunHandler(OnTimer); });
}

TTimer::~TTimer() = default;

void TTimer::SetInterval(uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    Update();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

// Setting either property starts the period anew, as the original timers do.
void TTimer::Update() {
    timer_->stop();
    if (enabled_ && interval_ > 0) timer_->start(static_cast<int>(std::min<uint32_t>(interval_, INT_MAX)));
}

} // namespace ui
