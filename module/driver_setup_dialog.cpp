#include "module/driver_setup_dialog.h"

#include <sys/stat.h>

#include <mutex>

#include "framework/driver_error.h"
#include "framework/user_files.h"
#include "module/device_setup_dialog.h"
#include "module/message_box.h"
#include "module/module_init.h"
#include "module/qt_application.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace module {

using framework::TDevice;

namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The bytes on disk that the save would not write back (a file that was not read, comments, other
// layout, a change another program made) are kept beside it first as `kept`, and the log says where;
// false with the reason in `why` when they could not be, and then the file must not be written over.
bool KeepUnwritten(const std::string& path, const std::string& written, std::string& kept, std::string& why) {
    std::string bytes;
    if (!platform::ReadRegularFile(path, bytes, &why)) return why.empty(); // not there: nothing to lose
    if (bytes == written) return true;
    if (!framework::KeepBackup(path, kept, why)) return false;
    framework::Report(framework::kErrNone, "Прежний конфигурационный файл сохранен как "_cp + kept + ".");
    return true;
}

} // namespace

TDriverSetupDlg::TDriverSetupDlg(framework::TDriver& driver)
    : Pages(this), GeneralPage(Pages, "Общие"_cp), AdditionalPage(Pages, "Дополнительно"_cp),
      Picture(&GeneralPage), DevicesListBox(&GeneralPage), AddBitBtn(&GeneralPage, "Добавить"_cp),
      EditBitBtn(&GeneralPage, "Изменить"_cp), DelBitBtn(&GeneralPage, "Удалить"_cp),
      NameHeader(&GeneralPage, "Параметр:"_cp), ValueHeader(&GeneralPage, "Значение:"_cp),
      SettingListBox(&GeneralPage), DescriptionLabel(&GeneralPage),
      MultiThreadModeCheckBox(&AdditionalPage, "Мультипотоковый режим драйвера"_cp),
      CommandIntervalLabel(&AdditionalPage, "Время выполнения единичной команды:"_cp),
      CommandIntervalSpinEdit(&AdditionalPage),
      AutoRunServerCheckBox(&AdditionalPage, "Автоматический запуск сервера"_cp),
      CheckServerTimeLabel(&AdditionalPage, "Проверять работу сервера каждые (сек):"_cp),
      CheckServerTimeSpinEdit(&AdditionalPage), AdditionalBitBtn(&AdditionalPage, "Кроме того..."_cp),
      LockErrorClassCheckBox(&AdditionalPage, "Запретить запись в журнал"_cp),
      RemoteAccessGroupBox(&AdditionalPage, " Удаленный доступ "_cp),
      RemoteAccessChkBox(&RemoteAccessGroupBox, "Удаленный доступ разрешен"_cp),
      RemoteAccessPortLabel(&RemoteAccessGroupBox, "Порт для удаленного доступа:"_cp),
      RemoteAccessPortSpinEdit(&RemoteAccessGroupBox), OkBitBtn(this, "Да"_cp), sBitBtn1(this, "Отмена"_cp),
      driver_(driver) {
    LayOut();
    ShowSetupPicture(Picture);
    SettingListBox.SetTwoColumns(NameHeader, ValueHeader);
    DevicesListBox.OnChange = [this] { OnChangeDeviceIndex(); };
    DevicesListBox.OnDblClick = [this] { EditBitBtnClick(); };
    SettingListBox.OnClick = [this] { OnClickValueList(); };
    AddBitBtn.OnClick = [this] { OnAddDevice(); };
    EditBitBtn.OnClick = [this] { EditBitBtnClick(); };
    DelBitBtn.OnClick = [this] { OnDeleteDevice(); };
    AdditionalBitBtn.OnClick = [this] { OnEditAdditionalProperties(); };
    OkBitBtn.OnClick = [this] { OnOkButton(); };
    OnCreateDialog();
}

TDriverSetupDlg::~TDriverSetupDlg() {
    OnDestroyDialog();
}

void TDriverSetupDlg::LayOut() {
    SetClientSize(760, 440);
    Pages.SetBounds(6, 6, 748, 386);
    Picture.SetBounds(8, 8, 64, 64);
    DevicesListBox.SetBounds(8, 80, 224, 226);
    AddBitBtn.SetBounds(8, 314, 72, 28);
    EditBitBtn.SetBounds(84, 314, 72, 28);
    DelBitBtn.SetBounds(160, 314, 72, 28);
    // The name column holds the longest property caption.
    NameHeader.SetBounds(246, 60, 160, 16);
    ValueHeader.SetBounds(546, 60, 160, 16);
    SettingListBox.SetBounds(242, 80, 494, 196);
    DescriptionLabel.SetBounds(242, 282, 494, 66);
    DescriptionLabel.SetWordWrap(true);

    MultiThreadModeCheckBox.SetBounds(12, 12, 400, 24);
    CommandIntervalLabel.SetBounds(12, 48, 300, 22);
    CommandIntervalSpinEdit.SetBounds(320, 46, 100, 26);
    AutoRunServerCheckBox.SetBounds(12, 84, 400, 24);
    CheckServerTimeLabel.SetBounds(12, 120, 300, 22);
    CheckServerTimeSpinEdit.SetBounds(320, 118, 100, 26);
    LockErrorClassCheckBox.SetBounds(12, 156, 400, 24);
    AdditionalBitBtn.SetBounds(12, 192, 130, 28);
    RemoteAccessGroupBox.SetBounds(12, 232, 420, 96);
    RemoteAccessChkBox.SetBounds(12, 26, 300, 24);
    RemoteAccessPortLabel.SetBounds(12, 60, 220, 22);
    RemoteAccessPortSpinEdit.SetBounds(240, 58, 100, 26);
    CommandIntervalSpinEdit.SetRange(1, 65535);
    CheckServerTimeSpinEdit.SetRange(1, 3600);
    RemoteAccessPortSpinEdit.SetRange(1, 65535);

    OkBitBtn.SetBounds(590, 402, 78, 30);
    sBitBtn1.SetBounds(676, 402, 78, 30);
    OkBitBtn.SetDefault(true);
    sBitBtn1.SetModalResult(ui::mrCancel);
    sBitBtn1.SetCancel(true);
    styledbuttons::ApplyFormButtonLook(
        {&AddBitBtn, &EditBitBtn, &DelBitBtn, &AdditionalBitBtn, &OkBitBtn, &sBitBtn1});
    SetFixedSize(true);
    CenterOnScreen();
}

void TDriverSetupDlg::OnCreateDialog() {
    SetCaption(driver_.GetSetupCaption());
    AdditionalBitBtn.SetEnabled(driver_.HasAdditionalSettings());
    DescriptionLabel.SetCaption("Нажмите кнопку \"Добавить\" для пополнения списка контролируемых устройств. "
                                "Вы сможете определить свойства "
                                "устройства и приписать ему логическое имя."_cp);

    Devices = driver_.CreateDeviceList();
    {
        std::lock_guard<std::mutex> guard(MasterListLock);
        Devices->Assign(driver_.DeviceList.get());
    }
    for (int32_t i = 0; i < Devices->Count(); ++i)
        DevicesListBox.AddItem(Devices->Device(i)->DeviceName);
    if (DevicesListBox.ItemCount() > 0) {
        DevicesListBox.SetItemIndex(0);
        OnChangeDeviceIndex();
    }

    MultiThreadModeCheckBox.SetChecked(framework::ThreadOnPort.load());
    CommandIntervalSpinEdit.SetValue(framework::GeneralCommandInterval.load());
    AutoRunServerCheckBox.SetChecked(framework::AutoRunServer.load());
    CheckServerTimeSpinEdit.SetValue(framework::CheckServerInterval.load());
    LockErrorClassCheckBox.SetChecked(framework::ErrorMngrDisabled.load());
    RemoteAccessChkBox.SetChecked(framework::RAPEnabled.load());
    RemoteAccessPortSpinEdit.SetValue(framework::RAPPort.load());
    RemoteAccessGroupBox.SetVisible(driver_.SupportsRemoteAccess());
    UpdateEnabling();
}

void TDriverSetupDlg::OnDestroyDialog() {
    Devices.reset();
}

TDevice* TDriverSetupDlg::SelectedDevice() const {
    const int32_t index = DevicesListBox.ItemIndex();
    return Devices && index >= 0 && index < Devices->Count() ? Devices->Device(index) : nullptr;
}

void TDriverSetupDlg::UpdateEnabling() {
    const bool selected = SelectedDevice() != nullptr;
    DelBitBtn.SetEnabled(selected);
    EditBitBtn.SetEnabled(selected);
    const bool any = Devices && Devices->Count() > 0;
    DevicesListBox.SetEnabled(any);
    SettingListBox.SetEnabled(any);
}

void TDriverSetupDlg::OnChangeDeviceIndex() {
    UpdateEnabling();
    TDevice* device = SelectedDevice();
    if (device == nullptr || !device->Properties) {
        SettingListBox.ClearItems();
        return;
    }
    FillPropertyRows(SettingListBox, *device->Properties);
}

void TDriverSetupDlg::OnClickValueList() {
    std::string hint;
    TDevice* device = SelectedDevice();
    const int32_t index = SettingListBox.ItemIndex();
    if (device != nullptr && device->Properties && index >= 0 && index < device->Properties->Count())
        device->Properties->GetHint(device->Properties->Property(index)->Name, hint);
    DescriptionLabel.SetCaption(hint);
}

void TDriverSetupDlg::RefillDevices(int32_t index) {
    DevicesListBox.BeginUpdate();
    DevicesListBox.ClearItems();
    for (int32_t i = 0; i < Devices->Count(); ++i)
        DevicesListBox.AddItem(Devices->Device(i)->DeviceName);
    DevicesListBox.SetItemIndex(index >= 0 && index < Devices->Count() ? index : Devices->Count() - 1);
    OnChangeDeviceIndex();
    DevicesListBox.EndUpdate();
}

void TDriverSetupDlg::OnAddDevice() {
    std::unique_ptr<TDevice> device = driver_.CreateDevice();
    // A new device starts as a clone of the selected one.
    if (TDevice* selected = SelectedDevice()) device->Assign(selected);
    if (EditDevice(Handle(), *device, device->Properties.get())) {
        device->ApplyProperties();
        auto* record = new framework::TDeviceRecord;
        record->Device = std::move(device);
        record->LastPoll = platform::Now();
        Devices->Insert(record);
        RefillDevices(Devices->Count() - 1);
    }
    DevicesListBox.SetEnabled(Devices->Count() > 0);
}

void TDriverSetupDlg::EditBitBtnClick() {
    const int32_t index = DevicesListBox.ItemIndex();
    TDevice* device = SelectedDevice();
    if (device == nullptr) return;
    if (!EditDevice(Handle(), *device, device->Properties.get())) return;
    device->ApplyProperties();
    RefillDevices(index);
}

void TDriverSetupDlg::OnDeleteDevice() {
    const int32_t index = DevicesListBox.ItemIndex();
    if (SelectedDevice() == nullptr) return;
    Devices->AtFree(index);
    DevicesListBox.DeleteItem(index);
    DevicesListBox.SetItemIndex(index < Devices->Count() ? index : Devices->Count() - 1);
    UpdateEnabling();
    OnChangeDeviceIndex();
}

void TDriverSetupDlg::OnOkButton() {
    {
        // The module thread looks devices up in the master list meanwhile.
        std::lock_guard<std::mutex> guard(MasterListLock);
        driver_.DeviceList->Assign(Devices.get());
    }
    framework::ThreadOnPort = MultiThreadModeCheckBox.Checked();
    framework::ErrorMngrDisabled = LockErrorClassCheckBox.Checked();
    framework::GeneralCommandInterval = CommandIntervalSpinEdit.Value();
    framework::AutoRunServer = AutoRunServerCheckBox.Checked();
    framework::CheckServerInterval = CheckServerTimeSpinEdit.Value();
    framework::RAPEnabled = false;
    framework::RAPPort = 6042;
    if (driver_.SupportsRemoteAccess()) {
        framework::RAPEnabled = RemoteAccessChkBox.Checked();
        framework::RAPPort = static_cast<uint16_t>(RemoteAccessPortSpinEdit.Value());
    }
    SetModalResult(ui::mrOk);
}

void TDriverSetupDlg::OnEditAdditionalProperties() {
    driver_.EditAdditionalSettings(Handle(), Devices.get());
}

bool ExecuteDriverSetup(platform::HWND) {
    framework::TDriver& driver = *framework::Driver;
    driver.BeforeSetup();
    int result;
    {
        TDriverSetupDlg dialog(driver);
        result = dialog.ShowModal();
    }
    if (result != ui::mrOk) driver.CancelSetup();
    return result == ui::mrOk;
}

bool SetupDriver(platform::HWND parent, const std::string& moduleDirectory) {
    if (framework::Driver == nullptr || !UseApplication()) return false;
    framework::TDriver& driver = *framework::Driver;
    // Before the initialisation the module keeps no configuration path: the file beside the module.
    const bool initialised = framework::ErrorObj != nullptr && !CfgPath.empty();
    const std::string path =
        initialised ? CfgPath : WithTrailingSeparator(moduleDirectory) + driver.GetConfigFileName();
    // What the driver holds of a file that was not read, or of a save that failed, stands only while
    // the file is the one it came from; one changed since is read again, as a first setup reads it.
    const framework::TConfigLoad& load = driver.LastConfigLoad;
    const bool changed = load.OutOfMemory || ((UnsavedSetup || !load.Reason.empty()) &&
                                              framework::FileDigest(path) != load.Digest);
    const std::string dropped =
        UnsavedSetup && changed
            ? "Настройки, которые не удалось сохранить, отброшены: конфигурационный файл "_cp + path +
                  " с тех пор изменен. "_cp
            : std::string();
    if (changed || (!initialised && !UnsavedSetup && FileExists(path)))
        LoadConfiguration(driver, path, initialised);
    std::string kept, why;
    // Nothing is known of a file whose reading ran out of memory: nothing is offered that would replace it.
    if (load.OutOfMemory) {
        InfoBox(nullptr, "Внимание"_cp,
                dropped + load.Message(path) + " Настройка не открыта, файл не изменен."_cp, false, false);
        return false;
    }
    // A file that is there but was not read could be written over: its bytes are kept beside it
    // first, and the user hears where. Bytes that cannot be kept are not replaced, and he hears why.
    if (!load.Reason.empty() && FileExists(path)) {
        const bool keptOld = framework::KeepBackup(path, kept, why);
        InfoBox(nullptr, "Внимание"_cp,
                dropped + load.Message(path) +
                    (keptOld
                         ? " При сохранении настроек он будет заменен, прежний файл останется рядом как "_cp +
                               kept + "."
                         : " Сохранить его рядом нельзя, поэтому настройка не открыта и он не заменен. "_cp +
                               why),
                false, false);
        if (!keptOld) return false;
    } else if (!dropped.empty()) {
        InfoBox(nullptr, "Внимание"_cp, dropped, false, false);
    }
    // What a save of the list as it stands writes: only the setup's OK changes the list, so until then
    // it is the list the file gave, or the one the last save wrote. After a failed save it holds that
    // OK's settings, and nothing stands for the file: all its bytes are kept before the next.
    std::string written;
    if (!UnsavedSetup) {
        std::lock_guard<std::mutex> guard(MasterListLock);
        try {
            written = driver.DeviceList->ConfigText();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            written.clear(); // then the file is kept before the save, which loses nothing
        }
    }
    if (!ExecuteDriverSetup(parent)) return false;
    // The settings stay in the driver whatever happens here, so that OK again retries the save; they
    // are unsaved until it succeeds, also when it throws.
    UnsavedSetup = true;
    std::string keptNow;
    bool saved;
    {
        std::lock_guard<std::mutex> guard(MasterListLock);
        saved = KeepUnwritten(path, written, keptNow, why) && driver.SaveConfig(path, &why);
    }
    UnsavedSetup = !saved;
    if (!saved) {
        const std::string failed = "Ошибка записи файла конфигурации."_cp + (why.empty() ? "" : " " + why);
        framework::Report(framework::kErrConfigWrite, failed);
        InfoBox(nullptr, "Внимание"_cp, failed, false, false);
    } else if (!keptNow.empty() && keptNow != kept) {
        InfoBox(nullptr, "Внимание"_cp,
                "Конфигурационный файл "_cp + path +
                    " содержал то, чего настройка не записывает; прежний файл сохранен как "_cp + keptNow +
                    ".",
                false, false);
    }
    return saved;
}

} // namespace module
