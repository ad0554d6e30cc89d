// Finding and clicking styled buttons from outside, as a user would: they draw their captions
// themselves and carry them as their accessible names.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QString>
#include <QTabBar>
#include <QWidget>

#include <string>
#include <vector>

namespace sbtest {

// The button of the window with this caption (UTF-8), nullptr when there is none.
inline QWidget* ButtonNamed(QWidget* window, const QString& caption) {
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->accessibleName() == caption) return w;
    return nullptr;
}

// A left click in the middle of the button, as the mouse makes it.
inline void ClickButton(QWidget* button) {
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, button->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &e);
    }
}

// The plain buttons of a window, on every page, shown or not: each QAbstractButton but a check box
// or a radio button (a styled button paints itself and is none). A tab bar's scroll arrows belong
// to the page control, not to the window.
inline std::vector<std::string> PlainButtons(QWidget* window) {
    std::vector<std::string> plain;
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b)) continue;
        if (qobject_cast<QTabBar*>(b->parentWidget())) continue;
        plain.push_back(std::string(b->metaObject()->className()) + " \"" + b->text().toStdString() + "\"");
    }
    return plain;
}

} // namespace sbtest
