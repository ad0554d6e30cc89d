#include "module/qt_application.h"

#include "ui/application.h"

namespace module {

bool UseApplication() {
    if (!ui::OnApplicationThread()) return false;
    ui::EnsureApplication();
    return true;
}

} // namespace module
