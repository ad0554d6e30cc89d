// The icon of a window in the desktop's tray. Clicks on it reach the window's procedure as its
// callback message, with the icon id as wParam and the mouse message as lParam.
#pragma once

#include "platform/messages.h"
#include "ui/icon.h"
#include "ui/messages.h"

#include <memory>
#include <string>

class QSystemTrayIcon;

namespace ui {

class TTrayIcon {
public:
    TTrayIcon(platform::HWND wnd, uint32_t id, platform::UINT callbackMessage);
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Shows the icon with the tip (cut to 63 characters); false when the icon is empty or the desktop
    // has no tray.
    bool Add(const TIcon& icon, const std::string& tip);
    void Remove();
    bool Shown() const { return tray_ != nullptr; }
    std::string Tip() const { return tip_; }

private:
    const platform::HWND wnd_;
    const uint32_t id_;
    const platform::UINT callbackMessage_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::string tip_;
};

} // namespace ui
