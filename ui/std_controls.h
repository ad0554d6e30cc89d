// The standard controls: labels, edits, check boxes, push buttons, group boxes, combo boxes, spin edits,
// panels and images.
// Events run only on the user's doing (or Click from code), never when code sets a value.
#pragma once

#include "ui/control.h"

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace ui {

class TForm;

class TLabel : public TControl {
public:
    explicit TLabel(TControl* parent, const std::string& caption = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // Word-wrapped, a word wider than the label is broken inside, not cut.
    void SetWordWrap(bool wrap);
    void SetCentered(bool centered);
    // The height the caption takes at the label's width, its margins included.
    int TextHeight() const;

private:
    QLabel* Label() const;
};

class TEdit : public TControl {
public:
    explicit TEdit(TControl* parent);
    std::string Text() const;
    // False when the edit shows a character that cp1251 lacks (Text() has '?' in its place).
    bool TextIsCp1251() const;
    void SetText(const std::string& text);
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const;
    std::function<void()> OnChange;
    // Every character the user puts in, typed, pasted or dropped, one by one (cp1251; backspace is
    // kBackspaceChar); setting key to 0 drops it. Text set by code is not filtered.
    std::function<void(char& key)> OnKeyPress;

private:
    friend class KeyFilter;
    QLineEdit* Edit() const;
    bool settingText_ = false;
};

class TCheckBox : public TControl {
public:
    explicit TCheckBox(TControl* parent, const std::string& caption = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    bool Checked() const;
    void SetChecked(bool checked);
    std::function<void()> OnClick;

private:
    QCheckBox* Box() const;
};

class TButton : public TControl {
public:
    explicit TButton(TControl* parent, const std::string& caption = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // Not mrNone: a click also gives the form this modal result.
    void SetModalResult(int result) { modalResult_ = result; }
    int ModalResult() const { return modalResult_; }
    std::function<void()> OnClick;
    // What a click does, from code; nothing while the button is disabled.
    void Click();
    // The default button of its form: Enter in the form clicks it.
    void SetDefault(bool isDefault);

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    QPushButton* Button() const;
    int modalResult_ = 0;
};

class TGroupBox : public TControl {
public:
    explicit TGroupBox(TControl* parent, const std::string& caption = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);

private:
    QGroupBox* Box() const;
};

// A drop-down list to choose from.
class TComboBox : public TControl {
public:
    explicit TComboBox(TControl* parent);
    void AddItem(const std::string& item);
    void ClearItems();
    int ItemCount() const;
    std::string Item(int index) const;
    // -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);
    std::string Text() const;
    std::function<void()> OnChange;

private:
    QComboBox* Combo() const;
};

// A number field with arrows, kept within MinValue .. MaxValue.
class TSpinEdit : public TControl {
public:
    explicit TSpinEdit(TControl* parent);
    int MinValue() const;
    int MaxValue() const;
    void SetRange(int minValue, int maxValue);
    int Value() const;
    // Clamped into the range.
    void SetValue(int value);
    std::function<void()> OnChange;

private:
    QSpinBox* Spin() const;
    bool settingValue_ = false;
};

// A raised panel with a centred caption; its colour is the font colour (SetFontColor).
class TPanel : public TControl {
public:
    explicit TPanel(TControl* parent, const std::string& caption = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);

private:
    QLabel* Label() const;
};

// A picture from 24-bit pixels, drawn at the top left of the control.
class TImage : public TControl {
public:
    explicit TImage(TControl* parent);
    // Rows of blue, green, red bytes, `stride` bytes apart (the last one may end without its padding);
    // copied. Nothing shows for an empty picture.
    void SetPicture(int width, int height, int stride, const uint8_t* bgr);
    void Clear();
    bool Empty() const;

private:
    QLabel* Label() const;
};

} // namespace ui
