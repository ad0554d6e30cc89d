// The driver setup window: a working copy of the device list and the driver's general settings; OK
// puts both into the driver object, the setup export then saves the configuration file.
#pragma once

#include <memory>
#include <string>

#include "framework/device_list.h"
#include "framework/driver.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"
#include "ui/list_box.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"

namespace module {

class TDriverSetupDlg : public ui::TForm {
public:
    explicit TDriverSetupDlg(framework::TDriver& driver);
    ~TDriverSetupDlg() override;

    void OnCreateDialog();
    void OnDestroyDialog();
    void OnChangeDeviceIndex();
    void OnAddDevice();
    void OnDeleteDevice();
    void OnOkButton();
    void EditBitBtnClick();
    void OnClickValueList();
    void OnEditAdditionalProperties();

    ui::TPageControl Pages;
    ui::TTabSheet GeneralPage;
    ui::TTabSheet AdditionalPage;
    // "Общие"
    ui::TImage Picture;
    ui::TListBox DevicesListBox;
    styledbuttons::TsBitBtn AddBitBtn;
    styledbuttons::TsBitBtn EditBitBtn;
    styledbuttons::TsBitBtn DelBitBtn;
    ui::TLabel NameHeader;
    ui::TLabel ValueHeader;
    ui::TListBox SettingListBox;
    ui::TLabel DescriptionLabel;
    // "Дополнительно"
    ui::TCheckBox MultiThreadModeCheckBox;
    ui::TLabel CommandIntervalLabel;
    ui::TSpinEdit CommandIntervalSpinEdit;
    ui::TCheckBox AutoRunServerCheckBox;
    ui::TLabel CheckServerTimeLabel;
    ui::TSpinEdit CheckServerTimeSpinEdit;
    styledbuttons::TsBitBtn AdditionalBitBtn;
    ui::TCheckBox LockErrorClassCheckBox;
    ui::TGroupBox RemoteAccessGroupBox;
    ui::TCheckBox RemoteAccessChkBox;
    ui::TLabel RemoteAccessPortLabel;
    ui::TSpinEdit RemoteAccessPortSpinEdit;

    styledbuttons::TsBitBtn OkBitBtn;
    styledbuttons::TsBitBtn sBitBtn1;

    // The working list: clones of the driver's devices.
    std::unique_ptr<framework::TDeviceList> Devices;

private:
    // Places the controls and sets their ranges and the buttons' roles.
    void LayOut();
    framework::TDevice* SelectedDevice() const;
    void UpdateEnabling();
    // Rebuilds the device names, selecting index (else the last entry).
    void RefillDevices(int32_t index);

    framework::TDriver& driver_;
};

// The setup dialog shown modally around the driver's setup hooks; true exactly on OK.
bool ExecuteDriverSetup(platform::HWND parent);

// The body of the setup export: the setup, then the configuration saved where the module keeps it,
// or, before the module is initialised, as the file in moduleDirectory (loaded first when it is
// there). A file that is there but was not read is named to the user before the window opens, and
// kept as <name>.bak before it is saved over. False when the dialog was cancelled, the save (or the
// keeping) failed, or no window can be shown here.
bool SetupDriver(platform::HWND parent, const std::string& moduleDirectory);

} // namespace module
