// List boxes: a column of text lines, one of which may be selected. Events run only on the user's doing,
// never when code fills the list or sets the selection.
#pragma once

#include "ui/control.h"

#include <functional>
#include <string>

class QListWidget;

namespace ui {

class TListBox : public TControl {
public:
    explicit TListBox(TControl* parent);

    void AddItem(const std::string& item);
    void SetItem(int index, const std::string& item);
    void DeleteItem(int index);
    void ClearItems();
    int ItemCount() const;
    // Empty for an index out of range.
    std::string Item(int index) const;
    // -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);

    // Redrawing waits until the last EndUpdate, which repaints.
    void BeginUpdate();
    void EndUpdate();

    // Rows drawn as two columns: each line split at its first #8 into a name drawn at the left of
    // nameHeader and a value drawn at the left of valueHeader (controls beside the list, usually labels
    // above it). The selected row is navy blue, every other row white.
    void SetTwoColumns(const TControl& nameHeader, const TControl& valueHeader);
    // The width a name of a two-column row is drawn in before it is cut; -1 for a list of one column.
    int NameColumnWidth() const;

    std::function<void()> OnChange;
    // The user chose a row: each OnChange, and a click on the row that is selected already.
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;

private:
    QListWidget* List() const;
    struct ByCode;
    int byCode_ = 0;
    int updates_ = 0;
};

} // namespace ui
