// The tests' way to the Qt widget behind a control, which the library keeps to itself.
#pragma once

#include "ui/control.h"

namespace ui {

struct TControlTestAccess {
    static QWidget* Widget(const TControl& control) { return control.Widget(); }
};

} // namespace ui

namespace uitest {

inline QWidget* WidgetOf(const ui::TControl& control) {
    return ui::TControlTestAccess::Widget(control);
}

} // namespace uitest
