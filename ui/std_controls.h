// The standard controls: labels, edits, check boxes, push buttons, group boxes and combo boxes.
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

namespace ui {

class TForm;

class TLabel : public TControl {
public:
    explicit TLabel(TControl* parent, const std::string& caption = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    void SetWordWrap(bool wrap);
    void SetCentered(bool centered);

private:
    QLabel* Label() const;
};

class TEdit : public TControl {
public:
    explicit TEdit(TControl* parent);
    std::string Text() const;
    void SetText(const std::string& text);
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const;
    std::function<void()> OnChange;

private:
    QLineEdit* Edit() const;
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

} // namespace ui
