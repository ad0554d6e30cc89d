// Page controls and their pages. A page's index counts hidden pages too.
#pragma once

#include "ui/control.h"

#include <functional>
#include <string>

class QTabWidget;

namespace ui {

class TPageControl;

class TTabSheet : public TControl {
public:
    // Appended as the last page.
    TTabSheet(TPageControl& pageControl, const std::string& caption);
    ~TTabSheet() override;
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // A page without its tab cannot be chosen.
    void SetTabVisible(bool visible);
    bool TabVisible() const;
    int PageIndex() const;

private:
    TPageControl& pageControl_;
};

class TPageControl : public TControl {
public:
    explicit TPageControl(TControl* parent);
    int PageCount() const;
    // -1 when there is no page.
    int ActivePageIndex() const;
    void SetActivePageIndex(int index);
    // After the user chose another page.
    std::function<void()> OnChange;

protected:
    // Pages are placed by adding them as tabs.
    QWidget* ClientWidget() const override { return nullptr; }

private:
    friend class TTabSheet;
    QTabWidget* Tabs() const;
};

} // namespace ui
