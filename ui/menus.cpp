#include "ui/menus.h"

#include "ui/application.h"

namespace ui {

TMenuItem::TMenuItem(QAction* action) : action_(action) {
    QObject::connect(action, &QAction::triggered, action, [this] { RunHandler(OnClick); });
}

std::string TMenuItem::Caption() const {
    return action_ ? FromQt(action_->text()) : std::string();
}

void TMenuItem::SetCaption(const std::string& caption) {
    if (action_) action_->setText(ToQt(caption));
}

void TMenuItem::SetEnabled(bool enabled) {
    if (action_) action_->setEnabled(enabled);
}

bool TMenuItem::Enabled() const {
    return action_ && action_->isEnabled();
}

void TMenuItem::SetVisible(bool visible) {
    if (action_) action_->setVisible(visible);
}

bool TMenuItem::Visible() const {
    return action_ && action_->isVisible();
}

void TMenuItem::Click() {
    if (action_ && action_->isEnabled()) action_->trigger();
}

TPopupMenu::TPopupMenu() {
    EnsureApplication();
    menu_ = new QMenu();
}

TPopupMenu::~TPopupMenu() {
    items_.clear();
    delete menu_;
}

TMenuItem& TPopupMenu::Add(const std::string& caption, std::function<void()> onClick) {
    QAction* action = menu_->addAction(ToQt(caption));
    items_.push_back(std::make_unique<TMenuItem>(action));
    items_.back()->OnClick = std::move(onClick);
    return *items_.back();
}

} // namespace ui
