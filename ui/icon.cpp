#include "ui/icon.h"

#include "platform/files.h"
#include "ui/application.h"

#include <QBuffer>
#include <QImageReader>
#include <QPixmap>

namespace ui {

bool TIcon::LoadFromFile(const std::string& path) {
    EnsureApplication();
    // Read as every file of ours is (platform/files.h), then decoded from memory.
    std::string bytes;
    if (!platform::ReadRegularFile(path, bytes)) return false;
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    // An icon file holds several sizes; every one of them is kept.
    QImageReader reader(&buffer);
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
