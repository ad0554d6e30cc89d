#include "module/device_setup_dialog.h"

#include <algorithm>
#include <cstring>

#include "module/message_box.h"
#include "module/module_pictures.h"
#include "module/tag_chooser.h"
#include "platform/text.h"

namespace module {

using framework::TDeviceProperty;
using framework::TDevicePropertyList;
using framework::TPropertyType;

const char* const kSetupPictureFile = "QuillarySetup.jpg";

namespace {

// The configuration file knows no escapes: a value typed here holds no double quote, no markup
// bracket and no line break, so that it reads back as it was typed.
bool FitsConfiguration(const std::string& value) {
    return value.find_first_of("\"<>\r\n") == std::string::npos;
}
} // namespace

void ShowSetupPicture(ui::TImage& image) {
    ShowPicture(image, ModulePicture(kSetupPictureFile));
}

std::string PropertyLine(TDevicePropertyList& properties, const TDeviceProperty& property) {
    std::string caption;
    if (!properties.GetCaption(property.Name, caption)) caption = property.Name;
    std::string shown;
    properties.ValueToChoice(property.Name, property.Value, shown);
    return caption + '\x08' + shown;
}

void FillPropertyRows(ui::TListBox& rows, TDevicePropertyList& properties) {
    rows.BeginUpdate();
    rows.ClearItems();
    for (int32_t i = 0; i < properties.Count(); ++i)
        if (const TDeviceProperty* p = properties.Property(i)) rows.AddItem(PropertyLine(properties, *p));
    if (rows.ItemCount() > 0) rows.SetItemIndex(0);
    rows.EndUpdate();
}

// ---- Device setup window

TDeviceSetupDialog::TDeviceSetupDialog(framework::TDevice& device, TDevicePropertyList* properties)
    : Picture(this), NameHeader(this, "Параметр:"_cp), ValueHeader(this, "Значение:"_cp),
      SettingListBox(this), DescriptionLabel(this), OkBitBtn(this, "Да"_cp), CancelBitBtn(this, "Отмена"_cp) {
    if (properties != nullptr) {
        Properties = device.CreateProperties();
        Properties->Assign(*properties);
    }
    SetCaption("Свойства устройства..."_cp);
    SetClientSize(560, 420);
    Picture.SetBounds(8, 8, 64, 64);
    NameHeader.SetBounds(12, 78, 200, 16);
    ValueHeader.SetBounds(320, 78, 200, 16);
    SettingListBox.SetBounds(8, 96, 544, 226);
    DescriptionLabel.SetBounds(8, 326, 544, 52);
    DescriptionLabel.SetWordWrap(true);
    OkBitBtn.SetBounds(392, 384, 76, 28);
    CancelBitBtn.SetBounds(476, 384, 76, 28);
    OkBitBtn.SetModalResult(ui::mrOk);
    OkBitBtn.SetDefault(true);
    CancelBitBtn.SetModalResult(ui::mrCancel);
    CancelBitBtn.SetCancel(true);
    styledbuttons::ApplyFormButtonLook({&OkBitBtn, &CancelBitBtn});
    SetFixedSize(true);
    CenterOnScreen();
    ShowSetupPicture(Picture);
    SettingListBox.SetTwoColumns(NameHeader, ValueHeader);
    SettingListBox.OnChange = [this] { OnChangeSettingIndex(); };
    SettingListBox.OnDblClick = [this] { OnChangeSettingValue(); };
    OnCreateDialog();
}

void TDeviceSetupDialog::OnCreateDialog() {
    if (!Properties) {
        SettingListBox.ClearItems();
        SettingListBox.SetEnabled(false);
        return;
    }
    FillPropertyRows(SettingListBox, *Properties);
    SettingListBox.SetEnabled(SettingListBox.ItemCount() > 0);
    OnChangeSettingIndex();
}

void TDeviceSetupDialog::OnChangeSettingIndex() {
    std::string hint;
    const int32_t index = SettingListBox.ItemIndex();
    if (Properties && index >= 0 && index < Properties->Count())
        Properties->GetHint(Properties->Property(index)->Name, hint);
    DescriptionLabel.SetCaption(hint);
}

void TDeviceSetupDialog::OnChangeSettingValue() {
    const int32_t index = SettingListBox.ItemIndex();
    if (!Properties || index < 0 || index >= Properties->Count()) return;
    TDeviceProperty* property = Properties->Property(index);
    const bool edited = property->PropType == TPropertyType::Custom
                            ? Properties->EditCustomValue(Handle(), property)
                            : EditSettingValue(Handle(), Properties.get(), property->Name);
    if (!edited) return;
    SettingListBox.SetItem(index, PropertyLine(*Properties, *property));
    SettingListBox.Repaint();
}

bool EditDevice(platform::HWND, framework::TDevice& device, TDevicePropertyList* properties) {
    TDeviceSetupDialog dialog(device, properties);
    const bool ok = dialog.ShowModal() == ui::mrOk;
    if (ok && properties != nullptr && dialog.Properties) {
        properties->FreeAll();
        properties->Assign(*dialog.Properties);
    }
    return ok;
}

// ---- Value editor

bool EditorKeyAllowed(const TDeviceProperty* property, char key) {
    if (property == nullptr) return false;
    const bool digit = key >= '0' && key <= '9';
    switch (property->PropType) {
    case TPropertyType::Integer:
        return digit || key == ui::kBackspaceChar;
    case TPropertyType::Real:
        return digit || key == '.' || key == ui::kBackspaceChar;
    case TPropertyType::Text:
    case TPropertyType::Boolean:
    case TPropertyType::TagName:
        return true;
    default:
        return false;
    }
}

TSettingEditor::TSettingEditor(TDevicePropertyList* properties, const std::string& name)
    : ValueGroupBox(this, " Значение параметра "_cp), SettingTextEdit(&ValueGroupBox),
      ListsComboBox(&ValueGroupBox), VarManagerBitBtn(&ValueGroupBox, "..."), DescriptionLabel(this),
      OkBitBtn(this, "Да"_cp), CancelBitBtn(this, "Отмена"_cp), properties_(properties),
      name_(name.substr(0, 255)) {
    SetCaption("Изменить значение параметра..."_cp);
    SetClientSize(400, 210);
    ValueGroupBox.SetBounds(8, 8, 384, 64);
    SettingTextEdit.SetBounds(10, 26, 326, 26);
    ListsComboBox.SetBounds(10, 26, 364, 26);
    VarManagerBitBtn.SetBounds(342, 26, 32, 26);
    DescriptionLabel.SetBounds(8, 80, 384, 84);
    DescriptionLabel.SetWordWrap(true);
    OkBitBtn.SetBounds(232, 172, 76, 28);
    CancelBitBtn.SetBounds(316, 172, 76, 28);
    OkBitBtn.SetDefault(true);
    CancelBitBtn.SetModalResult(ui::mrCancel);
    CancelBitBtn.SetCancel(true);
    styledbuttons::ApplyFormButtonLook({&VarManagerBitBtn, &OkBitBtn, &CancelBitBtn});
    SetFixedSize(true);
    CenterOnScreen();
    SettingTextEdit.OnKeyPress = [this](char& key) { OnEditorKeyPress(key); };
    ListsComboBox.OnChange = [this] { OnChangeComboBoxItem(); };
    VarManagerBitBtn.OnClick = [this] { OnVarNavigatorDialog(); };
    OkBitBtn.OnClick = [this] { OnOkButton(); };
    OnCreateDialog();
}

TDeviceProperty* TSettingEditor::Property() const {
    return properties_ != nullptr ? properties_->FindProperty(name_) : nullptr;
}

void TSettingEditor::OnCreateDialog() {
    DescriptionLabel.SetCaption("");
    SettingTextEdit.SetText("");
    const TDeviceProperty* property = Property();
    if (property == nullptr) return;
    std::string shown, hint;
    properties_->ValueToChoice(name_, property->Value, shown);
    SettingTextEdit.SetText(shown);
    properties_->GetHint(name_, hint);
    DescriptionLabel.SetCaption(hint);
    const TPropertyType type = property->PropType;
    if (type != TPropertyType::TagName) VarManagerBitBtn.Hide();
    if (type != TPropertyType::PickList && type != TPropertyType::Boolean) {
        ListsComboBox.Hide();
        return;
    }
    SettingTextEdit.Hide();
    VarManagerBitBtn.Hide();
    int32_t minValue = 0, maxValue = 0;
    TPropertyType editType = type;
    properties_->GetEditInfo(name_, minValue, &items_, editType, maxValue);
    for (const std::string& item : items_)
        ListsComboBox.AddItem(item);
    // A yes/no value opens on what its reader takes it for ("1" is TRUE, an unreadable text the
    // reader's fallback), so that OK without a choice keeps that meaning.
    auto found = std::find(items_.begin(), items_.end(), shown);
    if (type == TPropertyType::Boolean && items_.size() == 2)
        found =
            items_.begin() + (properties_->GetBoolean(name_, properties_->GetBooleanFallback(name_)) ? 1 : 0);
    int32_t index = static_cast<int32_t>(found - items_.begin());
    if (found == items_.end() && !items_.empty()) {
        index = 0;
        SettingTextEdit.SetText(items_.front());
    }
    ListsComboBox.SetItemIndex(items_.empty() ? -1 : index);
}

void TSettingEditor::OnEditorKeyPress(char& key) {
    if (!EditorKeyAllowed(Property(), key)) key = 0;
}

void TSettingEditor::OnChangeComboBoxItem() {
    SettingTextEdit.SetText(ListsComboBox.Text());
}

void TSettingEditor::OnVarNavigatorDialog() {
    std::string name;
    if (ChooseHostTag(Handle(), name)) SettingTextEdit.SetText(name);
}

std::string TSettingEditor::Refusal(TPropertyType type, const std::string& value) const {
    switch (type) {
    case TPropertyType::Integer: {
        int32_t number = 0, minValue = 0, maxValue = 0;
        TPropertyType editType = type;
        properties_->GetEditInfo(name_, minValue, nullptr, editType, maxValue);
        if (platform::TryStrToInt(value, number) && number >= minValue && number <= maxValue) return {};
        return "Значение должно быть целым числом от "_cp + platform::IntToStr(minValue) + " до "_cp +
               platform::IntToStr(maxValue) + ".";
    }
    case TPropertyType::Real: {
        double number = 0;
        if (platform::TryStrToFloat(value, number)) return {};
        return "Значение должно быть числом с точкой в качестве десятичного разделителя."_cp;
    }
    case TPropertyType::Text:
    case TPropertyType::TagName:
        // What the edit shows is stored in cp1251: another character would become '?' unseen.
        if (!SettingTextEdit.TextIsCp1251())
            return "Значение не может содержать символы, которых нет в кодировке Windows-1251."_cp;
        if (FitsConfiguration(value)) return {};
        return "Значение не может содержать символы \", < и > и переводы строки."_cp;
    default:
        return {};
    }
}

void TSettingEditor::OnOkButton() {
    if (TDeviceProperty* property = Property()) {
        const TPropertyType type = property->PropType;
        std::string value;
        switch (type) {
        case TPropertyType::Integer:
        case TPropertyType::Real:
            if (platform::Trim(SettingTextEdit.Text()).empty()) SettingTextEdit.SetText("0");
            value = SettingTextEdit.Text();
            break;
        case TPropertyType::Text:
            value = SettingTextEdit.Text();
            break;
        case TPropertyType::TagName:
            value = platform::Trim(SettingTextEdit.Text());
            break;
        case TPropertyType::PickList:
            // No entries to choose from (descriptions not loaded yet): the value stays.
            if (items_.empty()) {
                value = property->Value;
                break;
            }
            properties_->ChoiceToValue(name_, &items_, value, ListsComboBox.ItemIndex());
            break;
        case TPropertyType::Boolean:
            value = platform::BoolToStr(ListsComboBox.ItemIndex() > 0);
            break;
        default:
            value = property->Value;
            break;
        }
        const std::string refusal = Refusal(type, value);
        if (!refusal.empty()) {
            InfoBox(this, "Внимание"_cp, refusal, false, false);
            return;
        }
        property->Value = value;
    }
    // Without the property nothing was edited: the answer is Cancel's.
    SetModalResult(Property() != nullptr ? ui::mrOk : ui::mrCancel);
}

bool EditSettingValue(platform::HWND, TDevicePropertyList* properties, const std::string& name) {
    TSettingEditor editor(properties, name);
    return editor.ShowModal() == ui::mrOk;
}

} // namespace module
