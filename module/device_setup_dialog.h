// The device setup window (the properties of one device as two columns, changed one at a time) and
// the value editor of one property. Both work on copies and write back only on OK.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/device.h"
#include "framework/device_property_list.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"
#include "ui/list_box.h"
#include "ui/std_controls.h"

namespace module {

// The small picture of the setup windows, a JPEG file beside the module.
extern const char* const kSetupPictureFile;
// Shows the setup picture; a picture that is missing or unreadable shows nothing.
void ShowSetupPicture(ui::TImage& image);

// A row of a property list: its caption (the bare name when it has none), #8, the value as shown.
std::string PropertyLine(framework::TDevicePropertyList& properties,
                         const framework::TDeviceProperty& property);
// One row per property, in the list's order, the first one selected.
void FillPropertyRows(ui::TListBox& rows, framework::TDevicePropertyList& properties);

class TDeviceSetupDialog : public ui::TForm {
public:
    // properties may be null: then nothing can be edited.
    TDeviceSetupDialog(framework::TDevice& device, framework::TDevicePropertyList* properties);

    void OnCreateDialog();
    void OnChangeSettingIndex();
    void OnChangeSettingValue();

    ui::TImage Picture;
    ui::TLabel NameHeader;
    ui::TLabel ValueHeader;
    ui::TListBox SettingListBox;
    ui::TLabel DescriptionLabel;
    styledbuttons::TsBitBtn OkBitBtn;
    styledbuttons::TsBitBtn CancelBitBtn;

    // The working copy, made by the device's own factory; null without a list to copy.
    std::unique_ptr<framework::TDevicePropertyList> Properties;
};

// True exactly on OK; the given list then holds the edited copy. The caller applies it to the device.
bool EditDevice(platform::HWND parent, framework::TDevice& device,
                framework::TDevicePropertyList* properties);

class TSettingEditor : public ui::TForm {
public:
    TSettingEditor(framework::TDevicePropertyList* properties, const std::string& name);

    void OnCreateDialog();
    void OnEditorKeyPress(char& key);
    void OnChangeComboBoxItem();
    void OnVarNavigatorDialog();
    // Closes with OK only for a value the configuration file can hold.
    void OnOkButton();

    ui::TGroupBox ValueGroupBox;
    ui::TEdit SettingTextEdit;
    ui::TComboBox ListsComboBox;
    styledbuttons::TsBitBtn VarManagerBitBtn;
    ui::TLabel DescriptionLabel;
    styledbuttons::TsBitBtn OkBitBtn;
    styledbuttons::TsBitBtn CancelBitBtn;

private:
    framework::TDeviceProperty* Property() const;
    // A value OK refuses, with the message that says why; empty when it is accepted.
    std::string Refusal(framework::TPropertyType type, const std::string& value) const;

    framework::TDevicePropertyList* properties_; // not owned
    std::string name_;                           // at most 255 characters
    std::vector<std::string> items_;             // the pick list shown
};

// True exactly on OK; the property's Value is updated by then.
bool EditSettingValue(platform::HWND parent, framework::TDevicePropertyList* properties,
                      const std::string& name);

// Whether the value editor lets a key through for a property of this type; none when there is no
// such property.
bool EditorKeyAllowed(const framework::TDeviceProperty* property, char key);

} // namespace module
