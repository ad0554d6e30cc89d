#include "ui/list_box.h"

#include "ui/application.h"

#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>

namespace ui {
namespace {

constexpr QColor SelectedRow(0, 0, 128);

// A row shows no more of its text than a screen holds: laying out a value of megabytes would hold
// the thread for minutes. A two-column row keeps as much of its name and of its value.
constexpr std::size_t ShownChars = 1024;

QString Shown(const std::string& item) {
    const std::size_t split = item.find('\x08');
    if (split == std::string::npos) return ToQt(item.substr(0, ShownChars));
    return ToQt(item.substr(0, std::min(split, ShownChars)) + '\x08' + item.substr(split + 1, ShownChars));
}

// The whole item, kept beside the row only when the row shows less of it.
constexpr int WholeItem = Qt::UserRole;

void SetRow(QListWidgetItem& row, const std::string& item) {
    const QString shown = Shown(item);
    row.setText(shown);
    row.setData(WholeItem, static_cast<std::size_t>(shown.size()) < item.size()
                               ? QVariant(QByteArray(item.data(), static_cast<qsizetype>(item.size())))
                               : QVariant());
}

// Paints a row as name and value under the two headers.
class TwoColumnDelegate : public QStyledItemDelegate {
public:
    TwoColumnDelegate(QListWidget* list, QWidget* nameHeader, QWidget* valueHeader)
        : QStyledItemDelegate(list), list_(list), nameHeader_(nameHeader), valueHeader_(valueHeader) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected =
            (option.state & QStyle::State_Selected) && (option.state & QStyle::State_Enabled);
        painter->save();
        painter->setClipRect(option.rect);
        painter->fillRect(option.rect, selected ? SelectedRow : QColor(Qt::white));
        painter->setPen(selected ? QColor(Qt::white) : QColor(Qt::black));
        painter->setFont(option.font);
        const QString line = index.data(Qt::DisplayRole).toString();
        const qsizetype split = line.indexOf(QChar(8));
        const QString name = split < 0 ? line : line.left(split);
        const QString value = split < 0 ? QString() : line.mid(split + 1);
        DrawAt(*painter, option.rect, HeaderX(nameHeader_), NameRoom(), name);
        DrawAt(*painter, option.rect, HeaderX(valueHeader_), option.rect.width(), value);
        painter->restore();
    }

    // A long name stops short of the value column rather than running under the value.
    int NameRoom() const {
        const int nameX = HeaderX(nameHeader_), valueX = HeaderX(valueHeader_);
        return valueX > nameX ? valueX - nameX - 4 : list_->viewport()->width() - nameX;
    }

private:
    // The header's left edge in the list's row coordinates.
    int HeaderX(const QPointer<QWidget>& header) const {
        QWidget* view = list_->viewport();
        if (!header || header->window() != view->window()) return 2;
        return header->mapTo(header->window(), QPoint(0, 0)).x() -
               view->mapTo(view->window(), QPoint(0, 0)).x();
    }

    static void DrawAt(QPainter& painter, const QRect& row, int x, int width, const QString& text) {
        if (text.isEmpty()) return;
        const QRect area =
            QRect(row.left() + x, row.top(), std::max(0, width), row.height()).intersected(row);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }

    QListWidget* list_;
    QPointer<QWidget> nameHeader_;
    QPointer<QWidget> valueHeader_;
};

// A click on the row that is selected already changes nothing, yet the user chose that row.
class ListWidget : public QListWidget {
public:
    explicit ListWidget(TListBox& box) : box_(box) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const int before = currentRow();
        QListWidget::mousePressEvent(event);
        const QListWidgetItem* item = itemAt(event->position().toPoint());
        if (item != nullptr && row(item) == before && currentRow() == before) RunHandler(box_.OnClick);
    }

private:
    TListBox& box_;
};

} // namespace

struct TListBox::ByCode {
    explicit ByCode(TListBox& box) : box_(box) { ++box_.byCode_; }
    ~ByCode() { --box_.byCode_; }
    TListBox& box_;
};

TListBox::TListBox(TControl* parent) : TControl(MakeWidget<ListWidget>(*this), parent) {
    List()->setSelectionMode(QAbstractItemView::SingleSelection);
    QObject::connect(List(), &QListWidget::currentRowChanged, List(), [this] {
        if (byCode_ != 0) return;
        RunHandler(OnChange);
        RunHandler(OnClick);
    });
    QObject::connect(List(), &QListWidget::itemDoubleClicked, List(), [this] { RunHandler(OnDblClick); });
}

QListWidget* TListBox::List() const {
    return static_cast<QListWidget*>(Widget());
}

void TListBox::AddItem(const std::string& item) {
    if (!List()) return;
    ByCode code(*this);
    auto* row = new QListWidgetItem;
    SetRow(*row, item);
    List()->addItem(row);
}

void TListBox::SetItem(int index, const std::string& item) {
    if (List() && index >= 0 && index < List()->count()) SetRow(*List()->item(index), item);
}

void TListBox::DeleteItem(int index) {
    if (!List() || index < 0 || index >= List()->count()) return;
    ByCode code(*this);
    delete List()->takeItem(index);
}

void TListBox::ClearItems() {
    if (!List()) return;
    ByCode code(*this);
    List()->clear();
}

int TListBox::ItemCount() const {
    return List() ? List()->count() : 0;
}

std::string TListBox::Item(int index) const {
    if (!List() || index < 0 || index >= List()->count()) return {};
    const QListWidgetItem* row = List()->item(index);
    const QVariant whole = row->data(WholeItem);
    return whole.isValid() ? whole.toByteArray().toStdString() : FromQt(row->text());
}

int TListBox::ItemIndex() const {
    return List() ? List()->currentRow() : -1;
}

void TListBox::SetItemIndex(int index) {
    if (!List()) return;
    ByCode code(*this);
    List()->setCurrentRow(index >= 0 && index < List()->count() ? index : -1);
}

void TListBox::BeginUpdate() {
    if (updates_++ == 0 && List()) List()->setUpdatesEnabled(false);
}

void TListBox::EndUpdate() {
    if (updates_ == 0 || --updates_ > 0 || !List()) return;
    List()->setUpdatesEnabled(true);
    List()->viewport()->repaint();
}

int TListBox::NameColumnWidth() const {
    const auto* columns = List() ? dynamic_cast<const TwoColumnDelegate*>(List()->itemDelegate()) : nullptr;
    return columns != nullptr ? columns->NameRoom() : -1;
}

void TListBox::SetTwoColumns(const TControl& nameHeader, const TControl& valueHeader) {
    if (!List()) return;
    QAbstractItemDelegate* old = List()->itemDelegate();
    List()->setItemDelegate(new TwoColumnDelegate(List(), WidgetOf(nameHeader), WidgetOf(valueHeader)));
    // The columns are cut at the row's end: nothing to scroll sideways to.
    List()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (old != nullptr && old->parent() == List()) delete old;
    List()->viewport()->update();
}

} // namespace ui
