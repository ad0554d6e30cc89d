#include "ui/std_controls.h"

#include "ui/application.h"
#include "ui/form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTextDocument>
#include <QTextLayout>
#include <QValidator>

#include <algorithm>
#include <cstring>
#include <optional>

namespace ui {

namespace {

template <typename W> W* As(QWidget* widget) {
    return static_cast<W*>(widget);
}

// The lines of a word-wrapped text at that width: broken between words, and inside a word that is
// wider than a line.
QString BrokenLines(const QString& text, const QLabel& label, int width) {
    QStringList lines;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, label.font(), const_cast<QLabel*>(&label));
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            QString part = paragraph.mid(line.textStart(), line.textLength());
            while (!part.isEmpty() && part.back().isSpace())
                part.chop(1);
            lines << part;
        }
        layout.endLayout();
    }
    return lines.join(QLatin1Char('\n'));
}

// A word-wrapped label whose text has a word wider than the label breaks that word rather than cut it.
class LabelWidget : public QLabel {
public:
    using QLabel::QLabel;

    QRect TextArea() const { return contentsRect().adjusted(margin(), margin(), -margin(), -margin()); }

    // The text as drawn: with the breaks inside words when it needs them.
    QString Shown() const { return BreaksWords() ? BrokenLines(text(), *this, TextArea().width()) : text(); }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (!BreaksWords()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        drawFrame(&painter);
        style()->drawItemText(&painter, TextArea(), QStyle::visualAlignment(layoutDirection(), alignment()),
                              palette(), isEnabled(), Shown(), foregroundRole());
    }

private:
    bool BreaksWords() const {
        const bool plain =
            textFormat() == Qt::PlainText || (textFormat() == Qt::AutoText && !Qt::mightBeRichText(text()));
        if (!wordWrap() || !plain || !pixmap().isNull()) return false;
        const QString shown = text();
        const int width = TextArea().width();
        for (qsizetype i = 0; i < shown.size();) {
            qsizetype end = i;
            while (end < shown.size() && !shown[end].isSpace())
                ++end;
            if (end > i && fontMetrics().horizontalAdvance(shown.mid(i, end - i)) > width) return true;
            i = end + 1;
        }
        return false;
    }
};

} // namespace

TLabel::TLabel(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<LabelWidget>(ToQt(caption)), parent) {}

int TLabel::TextHeight() const {
    const auto* label = static_cast<const LabelWidget*>(Label());
    if (label == nullptr) return 0;
    const int flags = label->wordWrap() ? Qt::TextWordWrap : 0;
    const QRect room(0, 0, label->TextArea().width(), QWIDGETSIZE_MAX);
    return label->fontMetrics().boundingRect(room, flags, label->Shown()).height() + 2 * label->margin() +
           label->height() - label->contentsRect().height();
}

QLabel* TLabel::Label() const {
    return As<QLabel>(Widget());
}

std::string TLabel::Caption() const {
    return Label() ? FromQt(Label()->text()) : std::string();
}

void TLabel::SetCaption(const std::string& caption) {
    if (Label()) Label()->setText(ToQt(caption));
}

void TLabel::SetWordWrap(bool wrap) {
    if (Label()) Label()->setWordWrap(wrap);
}

void TLabel::SetCentered(bool centered) {
    if (Label()) Label()->setAlignment(centered ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
}

// Runs the edit's key filter over what an edit inserts, however it came (typing, paste, drop): the text
// before and after differ by one inserted run, whose characters pass one by one.
class KeyFilter : public QValidator {
public:
    KeyFilter(TEdit& edit, QObject* parent) : QValidator(parent), edit_(edit) {}

    // The text the edit shows between changes.
    void Accepted(const QString& text) { before_ = text; }

    State validate(QString& input, int& pos) const override {
        if (edit_.settingText_ || !edit_.OnKeyPress) return Acceptable;
        if (produced_ && input == *produced_) { // our own result, coming back through the edit
            produced_.reset();
            return Acceptable;
        }
        qsizetype prefix = 0;
        const qsizetype common = std::min(input.size(), before_.size());
        while (prefix < common && input[prefix] == before_[prefix])
            ++prefix;
        qsizetype suffix = 0;
        while (suffix < common - prefix &&
               input[input.size() - 1 - suffix] == before_[before_.size() - 1 - suffix])
            ++suffix;
        const qsizetype inserted = input.size() - prefix - suffix;
        if (inserted <= 0) return Acceptable;
        const QString run = input.mid(prefix, inserted);
        QString filtered;
        for (qsizetype i = 0; i < run.size();) {
            const qsizetype n =
                run[i].isHighSurrogate() && i + 1 < run.size() && run[i + 1].isLowSurrogate() ? 2 : 1;
            const QString typed = run.mid(i, n);
            i += n;
            const std::string asCp = FromQt(typed);
            const char original = asCp.empty() ? '?' : asCp[0];
            char key = original;
            RunHandler([&] { edit_.OnKeyPress(key); });
            // A character cp1251 lacks stays as typed, so that the text still tells it from a typed '?'.
            if (key != 0) filtered += key == original ? typed : ToQt(std::string(1, key));
        }
        // Nothing let through: the edit stays as it was, a selection the keys were typed over included.
        if (filtered.isEmpty()) return Invalid;
        if (pos >= prefix + inserted)
            pos += filtered.size() - inserted;
        else if (pos > prefix + filtered.size())
            pos = prefix + filtered.size();
        input = input.left(prefix) + filtered + input.right(suffix);
        produced_ = input;
        return Acceptable;
    }

private:
    TEdit& edit_;
    QString before_;
    mutable std::optional<QString> produced_;
};

namespace {

// Backspace deletes rather than inserts, so it goes to the key filter here.
class EditWidget : public QLineEdit {
public:
    explicit EditWidget(TEdit& edit) : edit_(edit) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Backspace && edit_.OnKeyPress) {
            char key = kBackspaceChar;
            RunHandler([&] { edit_.OnKeyPress(key); });
            if (key == 0) {
                event->accept();
                return;
            }
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    TEdit& edit_;
};

} // namespace

TEdit::TEdit(TControl* parent) : TControl(MakeWidget<EditWidget>(*this), parent) {
    auto* filter = new KeyFilter(*this, Edit());
    Edit()->setValidator(filter);
    QObject::connect(Edit(), &QLineEdit::textChanged, filter,
                     [filter](const QString& text) { filter->Accepted(text); });
    QObject::connect(Edit(), &QLineEdit::textEdited, Edit(), [this] { RunHandler(OnChange); });
}

QLineEdit* TEdit::Edit() const {
    return As<QLineEdit>(Widget());
}

std::string TEdit::Text() const {
    return Edit() ? FromQt(Edit()->text()) : std::string();
}

void TEdit::SetText(const std::string& text) {
    if (!Edit()) return;
    settingText_ = true;
    Edit()->setText(ToQt(text));
    settingText_ = false;
}

void TEdit::SetReadOnly(bool readOnly) {
    if (Edit()) Edit()->setReadOnly(readOnly);
}

bool TEdit::ReadOnly() const {
    return Edit() && Edit()->isReadOnly();
}

bool TEdit::TextIsCp1251() const {
    return !Edit() || ToQt(Text()) == Edit()->text();
}

TCheckBox::TCheckBox(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<QCheckBox>(ToQt(caption)), parent) {
    QObject::connect(Box(), &QCheckBox::clicked, Box(), [this] { RunHandler(OnClick); });
}

QCheckBox* TCheckBox::Box() const {
    return As<QCheckBox>(Widget());
}

std::string TCheckBox::Caption() const {
    return Box() ? FromQt(Box()->text()) : std::string();
}

void TCheckBox::SetCaption(const std::string& caption) {
    if (Box()) Box()->setText(ToQt(caption));
}

bool TCheckBox::Checked() const {
    return Box() && Box()->isChecked();
}

void TCheckBox::SetChecked(bool checked) {
    if (Box()) Box()->setChecked(checked);
}

TButton::TButton(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<QPushButton>(ToQt(caption)), parent) {
    QObject::connect(Button(), &QPushButton::clicked, Button(), [this] {
        RunHandler([this] {
            if (OnClick) OnClick();
            if (modalResult_ == mrNone) return;
            if (TForm* form = GetParentForm(this)) form->SetModalResult(modalResult_);
        });
    });
}

QPushButton* TButton::Button() const {
    return As<QPushButton>(Widget());
}

std::string TButton::Caption() const {
    return Button() ? FromQt(Button()->text()) : std::string();
}

void TButton::SetCaption(const std::string& caption) {
    if (Button()) Button()->setText(ToQt(caption));
}

void TButton::Click() {
    if (Button() && Button()->isEnabled()) Button()->click();
}

LRESULT TButton::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Enter without Shift, Ctrl or Alt, wherever the focus is in the form, clicks the default button.
    if (msg == CM_DIALOGKEY && wParam == VK_RETURN && lParam == 0 && Button() && Button()->isDefault() &&
        Button()->isVisible() && Button()->isEnabled()) {
        Click();
        return 1;
    }
    return TControl::WndProc(msg, wParam, lParam);
}

void TButton::SetDefault(bool isDefault) {
    if (Button()) Button()->setDefault(isDefault);
}

TGroupBox::TGroupBox(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<QGroupBox>(ToQt(caption)), parent) {}

QGroupBox* TGroupBox::Box() const {
    return As<QGroupBox>(Widget());
}

std::string TGroupBox::Caption() const {
    return Box() ? FromQt(Box()->title()) : std::string();
}

void TGroupBox::SetCaption(const std::string& caption) {
    if (Box()) Box()->setTitle(ToQt(caption));
}

TComboBox::TComboBox(TControl* parent) : TControl(MakeWidget<QComboBox>(), parent) {
    QObject::connect(Combo(), &QComboBox::activated, Combo(), [this] { RunHandler(OnChange); });
}

QComboBox* TComboBox::Combo() const {
    return As<QComboBox>(Widget());
}

void TComboBox::AddItem(const std::string& item) {
    if (!Combo()) return;
    // Qt selects the first item added; the selection stays the caller's to make.
    const int before = Combo()->currentIndex();
    Combo()->addItem(ToQt(item));
    if (before < 0) Combo()->setCurrentIndex(-1);
}

void TComboBox::ClearItems() {
    if (Combo()) Combo()->clear();
}

int TComboBox::ItemCount() const {
    return Combo() ? Combo()->count() : 0;
}

std::string TComboBox::Item(int index) const {
    return Combo() && index >= 0 && index < Combo()->count() ? FromQt(Combo()->itemText(index))
                                                             : std::string();
}

int TComboBox::ItemIndex() const {
    return Combo() ? Combo()->currentIndex() : -1;
}

void TComboBox::SetItemIndex(int index) {
    if (!Combo()) return;
    Combo()->setCurrentIndex(index >= 0 && index < Combo()->count() ? index : -1);
}

std::string TComboBox::Text() const {
    return Combo() ? FromQt(Combo()->currentText()) : std::string();
}

TSpinEdit::TSpinEdit(TControl* parent) : TControl(MakeWidget<QSpinBox>(), parent) {
    QObject::connect(Spin(), &QSpinBox::valueChanged, Spin(), [this] {
        if (!settingValue_) RunHandler(OnChange);
    });
}

QSpinBox* TSpinEdit::Spin() const {
    return As<QSpinBox>(Widget());
}

int TSpinEdit::MinValue() const {
    return Spin() ? Spin()->minimum() : 0;
}
int TSpinEdit::MaxValue() const {
    return Spin() ? Spin()->maximum() : 0;
}

void TSpinEdit::SetRange(int minValue, int maxValue) {
    if (!Spin()) return;
    settingValue_ = true;
    Spin()->setRange(minValue, maxValue);
    settingValue_ = false;
}

// What the user typed and has not confirmed yet counts, clamped into the range.
int TSpinEdit::Value() const {
    if (!Spin()) return 0;
    bool ok = false;
    const int typed = Spin()->cleanText().trimmed().toInt(&ok);
    return ok ? std::clamp(typed, Spin()->minimum(), Spin()->maximum()) : Spin()->value();
}

void TSpinEdit::SetValue(int value) {
    if (!Spin()) return;
    settingValue_ = true;
    Spin()->setValue(value);
    settingValue_ = false;
}

TPanel::TPanel(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<QLabel>(ToQt(caption)), parent) {
    Label()->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Label()->setAlignment(Qt::AlignCenter);
}

QLabel* TPanel::Label() const {
    return As<QLabel>(Widget());
}

std::string TPanel::Caption() const {
    return Label() ? FromQt(Label()->text()) : std::string();
}

void TPanel::SetCaption(const std::string& caption) {
    if (Label()) Label()->setText(ToQt(caption));
}

TImage::TImage(TControl* parent) : TControl(MakeWidget<QLabel>(), parent) {
    Label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QLabel* TImage::Label() const {
    return As<QLabel>(Widget());
}

void TImage::SetPicture(int width, int height, int stride, const uint8_t* bgr) {
    if (!Label()) return;
    if (width <= 0 || height <= 0 || bgr == nullptr || stride < width * 3) {
        Clear();
        return;
    }
    // Row by row: the last row need not carry its padding.
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), bgr + static_cast<std::size_t>(y) * stride,
                    static_cast<std::size_t>(width) * 3);
    Label()->setPixmap(QPixmap::fromImage(image));
}

void TImage::Clear() {
    if (Label()) Label()->clear();
}

bool TImage::Empty() const {
    return !Label() || Label()->pixmap().isNull();
}

} // namespace ui
