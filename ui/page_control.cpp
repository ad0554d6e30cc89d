#include "ui/page_control.h"

#include "ui/application.h"

#include <QTabBar>
#include <QTabWidget>

namespace ui {

TTabSheet::TTabSheet(TPageControl& pageControl, const std::string& caption)
    : TControl(MakeWidget<QWidget>(), &pageControl), pageControl_(pageControl) {
    if (QTabWidget* tabs = pageControl_.Tabs()) tabs->addTab(Widget(), ToQt(caption));
}

TTabSheet::~TTabSheet() {
    QTabWidget* tabs = pageControl_.Tabs();
    const int index = PageIndex();
    if (tabs != nullptr && index >= 0) tabs->removeTab(index);
}

int TTabSheet::PageIndex() const {
    QTabWidget* tabs = pageControl_.Tabs();
    return tabs != nullptr && Widget() != nullptr ? tabs->indexOf(Widget()) : -1;
}

std::string TTabSheet::Caption() const {
    QTabWidget* tabs = pageControl_.Tabs();
    const int index = PageIndex();
    return index >= 0 ? FromQt(tabs->tabText(index)) : std::string();
}

void TTabSheet::SetCaption(const std::string& caption) {
    const int index = PageIndex();
    if (index >= 0) pageControl_.Tabs()->setTabText(index, ToQt(caption));
}

void TTabSheet::SetTabVisible(bool visible) {
    const int index = PageIndex();
    if (index >= 0) pageControl_.Tabs()->setTabVisible(index, visible);
}

bool TTabSheet::TabVisible() const {
    const int index = PageIndex();
    return index >= 0 && pageControl_.Tabs()->isTabVisible(index);
}

TPageControl::TPageControl(TControl* parent) : TControl(MakeWidget<QTabWidget>(), parent) {
    QObject::connect(Tabs()->tabBar(), &QTabBar::tabBarClicked, Tabs(), [this](int index) {
        if (index >= 0 && index != ActivePageIndex()) {
            Tabs()->setCurrentIndex(index);
            RunHandler(OnChange);
        }
    });
}

QTabWidget* TPageControl::Tabs() const {
    return static_cast<QTabWidget*>(Widget());
}

int TPageControl::PageCount() const {
    return Tabs() ? Tabs()->count() : 0;
}

int TPageControl::ActivePageIndex() const {
    return Tabs() ? Tabs()->currentIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index) {
    if (Tabs() && index >= 0 && index < Tabs()->count()) Tabs()->setCurrentIndex(index);
}

} // namespace ui
