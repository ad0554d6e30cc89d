// An icon picture, for windows and the tray.
#pragma once

#include <QIcon>

#include <string>

namespace ui {

class TIcon {
public:
    // False (and the icon stays as it was) when the file cannot be read as a picture.
    bool LoadFromFile(const std::string& path);
    void Assign(const QIcon& icon) { icon_ = icon; }
    bool Empty() const { return icon_.isNull(); }
    const QIcon& QtIcon() const { return icon_; }

private:
    QIcon icon_;
};

} // namespace ui
