// Finding and clicking styled buttons from outside, as a user would: they draw their captions
// themselves and carry them as their accessible names.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QString>
#include <QWidget>

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

} // namespace sbtest
