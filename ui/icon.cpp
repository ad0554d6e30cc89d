#include "ui/icon.h"

#include "ui/application.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>

namespace ui {

bool TIcon::LoadFromFile(const std::string& path) {
    EnsureApplication();
    // An icon file holds several sizes; every one of them is kept.
    QImageReader reader(QFile::decodeName(path.c_str()));
    QIcon icon;
    QImage image;
    do {
        if (!reader.read(&image)) break;
        icon.addPixmap(QPixmap::fromImage(image));
    } while (reader.jumpToNextImage());
    if (icon.isNull()) return false;
    icon_ = icon;
    return true;
}

} // namespace ui
