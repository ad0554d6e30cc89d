#include "ui/std_controls.h"

#include "ui/application.h"
#include "ui/form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace ui {

namespace {

// The form a control stands on, for buttons with a modal result.
TForm* FormOf(TControl* control) {
    while (control != nullptr) {
        if (auto* form = dynamic_cast<TForm*>(control)) return form;
        control = control->Parent();
    }
    return nullptr;
}

template <typename W> W* As(QWidget* widget) { return static_cast<W*>(widget); }

} // namespace

TLabel::TLabel(TControl* parent, const std::string& caption) : TControl(MakeWidget<QLabel>(ToQt(caption)), parent) {}

QLabel* TLabel::Label() const { return As<QLabel>(Widget()); }

std::string TLabel::Caption() const { return Label() ? FromQt(Label()->text()) : std::string(); }

void TLabel::SetCaption(const std::string& caption) {
    if (Label()) Label()->setText(ToQt(caption));
}

void TLabel::SetWordWrap(bool wrap) {
    if (Label()) Label()->setWordWrap(wrap);
}

void TLabel::SetCentered(bool centered) {
    if (Label()) Label()->setAlignment(centered ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
}

TEdit::TEdit(TControl* parent) : TControl(MakeWidget<QLineEdit>(), parent) {
    QObject::connect(Edit(), &QLineEdit::textEdited, Edit(), [this] { RunHandler(OnChange); });
}

QLineEdit* TEdit::Edit() const { return As<QLineEdit>(Widget()); }

std::string TEdit::Text() const { return Edit() ? FromQt(Edit()->text()) : std::string(); }

void TEdit::SetText(const std::string& text) {
    if (Edit()) Edit()->setText(ToQt(text));
}

void TEdit::SetReadOnly(bool readOnly) {
    if (Edit()) Edit()->setReadOnly(readOnly);
}

bool TEdit::ReadOnly() const { return Edit() && Edit()->isReadOnly(); }

TCheckBox::TCheckBox(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<QCheckBox>(ToQt(caption)), parent) {
    QObject::connect(Box(), &QCheckBox::clicked, Box(), [this] { RunHandler(OnClick); });
}

QCheckBox* TCheckBox::Box() const { return As<QCheckBox>(Widget()); }

std::string TCheckBox::Caption() const { return Box() ? FromQt(Box()->text()) : std::string(); }

void TCheckBox::SetCaption(const std::string& caption) {
    if (Box()) Box()->setText(ToQt(caption));
}

bool TCheckBox::Checked() const { return Box() && Box()->isChecked(); }

void TCheckBox::SetChecked(bool checked) {
    if (Box()) Box()->setChecked(checked);
}

TButton::TButton(TControl* parent, const std::string& caption) : TControl(MakeWidget<QPushButton>(ToQt(caption)), parent) {
    QObject::connect(Button(), &QPushButton::clicked, Button(), [this] {
        RunHandler([this] {
            if (OnClick) OnClick();
            if (modalResult_ == mrNone) return;
            if (TForm* form = FormOf(this)) form->SetModalResult(modalResult_);
        });
    });
}

QPushButton* TButton::Button() const { return As<QPushButton>(Widget()); }

std::string TButton::Caption() const { return Button() ? FromQt(Button()->text()) : std::string(); }

void TButton::SetCaption(const std::string& caption) {
    if (Button()) Button()->setText(ToQt(caption));
}

void TButton::Click() {
    if (Button() && Button()->isEnabled()) Button()->click();
}

TGroupBox::TGroupBox(TControl* parent, const std::string& caption)
    : TControl(MakeWidget<QGroupBox>(ToQt(caption)), parent) {}

QGroupBox* TGroupBox::Box() const { return As<QGroupBox>(Widget()); }

std::string TGroupBox::Caption() const { return Box() ? FromQt(Box()->title()) : std::string(); }

void TGroupBox::SetCaption(const std::string& caption) {
    if (Box()) Box()->setTitle(ToQt(caption));
}

TComboBox::TComboBox(TControl* parent) : TControl(MakeWidget<QComboBox>(), parent) {
    QObject::connect(Combo(), &QComboBox::activated, Combo(), [this] { RunHandler(OnChange); });
}

QComboBox* TComboBox::Combo() const { return As<QComboBox>(Widget()); }

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

int TComboBox::ItemCount() const { return Combo() ? Combo()->count() : 0; }

std::string TComboBox::Item(int index) const {
    return Combo() && index >= 0 && index < Combo()->count() ? FromQt(Combo()->itemText(index)) : std::string();
}

int TComboBox::ItemIndex() const { return Combo() ? Combo()->currentIndex() : -1; }

void TComboBox::SetItemIndex(int index) {
    if (!Combo()) return;
    Combo()->setCurrentIndex(index >= 0 && index < Combo()->count() ? index : -1);
}

std::string TComboBox::Text() const { return Combo() ? FromQt(Combo()->currentText()) : std::string(); }

} // namespace ui
