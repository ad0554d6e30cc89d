// Popup menus.
#pragma once

#include <QAction>
#include <QMenu>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class TMenuItem {
public:
    explicit TMenuItem(QAction* action);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    void SetEnabled(bool enabled);
    bool Enabled() const;
    void SetVisible(bool visible);
    bool Visible() const;
    // What choosing the item does; Click does the same from code.
    std::function<void()> OnClick;
    void Click();

private:
    QPointer<QAction> action_;
};

class TPopupMenu {
public:
    TPopupMenu();
    ~TPopupMenu();
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    // The new item stays the menu's.
    TMenuItem& Add(const std::string& caption, std::function<void()> onClick = {});
    size_t Count() const { return items_.size(); }
    TMenuItem& Item(size_t index) { return *items_.at(index); }
    QMenu* Menu() const { return menu_; }

private:
    QMenu* menu_;
    std::vector<std::unique_ptr<TMenuItem>> items_;
};

} // namespace ui
