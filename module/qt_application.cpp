#include "module/qt_application.h"

#include "ui/application.h"

#include <QApplication>
#include <QThread>

namespace module {

bool UseApplication() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        // Widgets live on the application's thread only.
        if (qobject_cast<QApplication*>(app) == nullptr || app->thread() != QThread::currentThread()) return false;
    }
    ui::EnsureApplication();
    return true;
}

} // namespace module
