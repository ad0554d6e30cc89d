#include "ui/tray_icon.h"

#include "ui/application.h"

#include <QSystemTrayIcon>

namespace ui {

namespace {
constexpr size_t TipLength = 63; // the tip field holds 64 bytes with its terminator
}

TTrayIcon::TTrayIcon(platform::HWND wnd, uint32_t id, platform::UINT callbackMessage)
    : wnd_(wnd), id_(id), callbackMessage_(callbackMessage) {}

TTrayIcon::~TTrayIcon() {
    Remove();
}

bool TTrayIcon::Add(const TIcon& icon, const std::string& tip) {
    EnsureApplication();
    Remove();
    if (icon.Empty() || !QSystemTrayIcon::isSystemTrayAvailable()) return false;
    tip_ = tip.substr(0, TipLength);
    tray_ = std::make_unique<QSystemTrayIcon>(icon.QtIcon());
    tray_->setToolTip(ToQt(tip_));
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         platform::LPARAM mouse = 0;
                         switch (reason) {
                         case QSystemTrayIcon::DoubleClick:
                             mouse = WM_LBUTTONDBLCLK;
                             break;
                         case QSystemTrayIcon::Trigger:
                             mouse = WM_LBUTTONUP;
                             break;
                         case QSystemTrayIcon::Context:
                             mouse = WM_RBUTTONUP;
                             break;
                         default:
                             return;
                         }
                         RunHandler([&] { platform::SendMessage(wnd_, callbackMessage_, id_, mouse); });
                     });
    tray_->show();
    return true;
}

void TTrayIcon::Remove() {
    tray_.reset();
    tip_.clear();
}

} // namespace ui
