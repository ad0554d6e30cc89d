#include "server/server_window.h"

#include <cstdio>
#include <exception>
#include <filesystem>

#include "framework/driver.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/threads_list.h"
#include "framework/utilities.h"
#include "framework/variable_index.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/text.h"
#include "server/server_error.h"
#include "server/server_globals.h"
#include <unistd.h>

namespace server {

using framework::Intercom;
using platform::Cp;

std::string CfgPath;
std::atomic<bool> StartPending{true};
static_assert(WM_SERVERLOG == TServerErrorClass::kServerLogMessage);

namespace {

constexpr int kLogLines = 500;

std::string ProgramPath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string ReplaceExtension(const std::string& path, const char* ext) {
    return std::filesystem::path(path).replace_extension(ext).string();
}

void ReportRemote(const char* what, const std::exception& e) {
    framework::Report(framework::kErrReported, what + std::string(e.what()));
}

bool SlotIsOurs() {
    return Intercom != nullptr && Intercom->IsOpen() &&
           Intercom->ServerData.GetProcessId() == static_cast<int32_t>(getpid());
}

// Set when the remote access server was stopped with a session still running.
bool RemoteSessionLeft = false;

// A thread that was started and has not returned.
bool AnyThreadRunning(const framework::TThreadsList* list) {
    if (list == nullptr) return false;
    for (int32_t i = 0; i < list->Count(); ++i) {
        const framework::TDeviceThread* t = list->Thread(i);
        if (t != nullptr && t->Started() && !t->Finished()) return true;
    }
    return false;
}

} // namespace

std::string ModuleStateText(uint8_t state) {
    static const char* const kTexts[] = {
        "Неизвестно",          "Инициализация",          "В работе",
        "Остановлен",          "1: Начало цикла",        "2: Обработка команд",
        "3: Передача команд",  "4: Динам. теги",         "5: Чтение параметров",
        "6: Обработка ошибок", "7: Конец цикла потока.", "8: Завершение потока."};
    const uint8_t s = state & 0x7F;
    return s < std::size(kTexts) ? Cp(kTexts[s]) : std::string();
}

bool ClearOwnSlot() {
    if (!SlotIsOurs()) return false;
    Intercom->ServerData.SetProcessId(0);
    Intercom->ServerData.SetWindow(0);
    Intercom->ServerData.SetRunFlag(0);
    return true;
}

bool SetOwnRunFlag(uint8_t flag) {
    if (!SlotIsOurs()) return false;
    Intercom->ServerData.SetRunFlag(flag);
    return true;
}

TRemoteAccess::TRemoteAccess() : Session(Log, Busy, [] { return ThreadsList; }) {}

TServerWindow::TServerWindow()
    : PageControl(this), StateTabSheet(PageControl, Cp("Состояние")),
      DevicesTabSheet(PageControl, Cp("Устройства")), LogTabSheet(PageControl, Cp("Журнал")),
      RemoteAccessTabSheet(PageControl, Cp("Удаленный доступ")),
      StateGroupBox(&StateTabSheet, " Ostrolinka "),
      LogoLabel(&StateGroupBox, Cp("Сервер обслуживания абстрактного протокола.")),
      DmlNameEdit(&StateGroupBox), DmlStateEdit(&StateGroupBox), DmlTagCounterEdit(&StateGroupBox),
      DmlTransactionIdEdit(&StateGroupBox), ConfigFileNameEdit(&StateTabSheet),
      DeviceCountEdit(&StateTabSheet), ThreadCountEdit(&StateTabSheet),
      ServerTransactionIdEdit(&StateTabSheet), PIDEdit(&StateTabSheet), WindowHandleEdit(&StateTabSheet),
      TerminalIdEdit(&StateTabSheet), RemoteTerminalIdEdit(&StateTabSheet),
      CommandsTerminalIdEdit(&StateTabSheet), RequestTimeOutEdit(&DevicesTabSheet),
      RequestCycleEdit(&DevicesTabSheet), LinkStateEdit(&DevicesTabSheet),
      DeviceListComboBox(&DevicesTabSheet), DevicePageControl(&DevicesTabSheet),
      RequestsTabSheet(DevicePageControl, Cp("Запросы")), CommandsTabSheet(DevicePageControl, Cp("Команды")),
      StatisticsTabSheet(DevicePageControl, Cp("Статистика")), RequestsMemo(&RequestsTabSheet),
      CommandsMemo(&CommandsTabSheet), LogMemo(&LogTabSheet), RemoteAccessMemo(&RemoteAccessTabSheet),
      LockTerminalChkBox(&DevicesTabSheet, Cp("Блокировка терминалов ")),
      ClearLogBitBtn(&LogTabSheet, Cp("Очистить")),
      SaveRemoteTerminalBitBtn(&RemoteAccessTabSheet, Cp("Сохранить...")), OkBitBtn(this, Cp("Скрыть")),
      ReloadBitBtn(this, Cp("Выгрузить")) {
    SetClientSize(600, 460);
    LayOutStatePage();
    LayOutOtherPages();
    MakeViewsReadOnly();
    ConnectHandlers();
    OnCreateWindow();
}

void TServerWindow::LayOutStatePage() {
    PageControl.SetBounds(4, 4, 592, 414);
    StateGroupBox.SetBounds(6, 6, 574, 150);
    LogoLabel.SetBounds(10, 20, 554, 20);
    PlaceEdit(DmlNameEdit, StateGroupBox, Cp("Модуль:"), 0, 0);
    PlaceEdit(DmlStateEdit, StateGroupBox, Cp("Состояние:"), 0, 1);
    PlaceEdit(DmlTagCounterEdit, StateGroupBox, Cp("Теги:"), 1, 0);
    PlaceEdit(DmlTransactionIdEdit, StateGroupBox, Cp("Транзакция:"), 1, 1);
    ConfigFileNameEdit.SetBounds(10, 166, 564, 24);
    PlaceEdit(DeviceCountEdit, StateTabSheet, Cp("Устройства:"), 0, 6);
    PlaceEdit(ThreadCountEdit, StateTabSheet, Cp("Потоки:"), 0, 7);
    PlaceEdit(ServerTransactionIdEdit, StateTabSheet, Cp("Транзакция:"), 0, 8);
    PlaceEdit(PIDEdit, StateTabSheet, "PID:", 1, 6);
    PlaceEdit(WindowHandleEdit, StateTabSheet, Cp("Окно:"), 1, 7);
    PlaceEdit(TerminalIdEdit, StateTabSheet, Cp("Запросы:"), 1, 8);
    PlaceEdit(CommandsTerminalIdEdit, StateTabSheet, Cp("Команды:"), 1, 9);
    PlaceEdit(RemoteTerminalIdEdit, StateTabSheet, Cp("Удаленный:"), 1, 10);
}

// The devices, log and remote-access pages and the window's own buttons.
void TServerWindow::LayOutOtherPages() {
    DeviceListComboBox.SetBounds(6, 6, 300, 24);
    LockTerminalChkBox.SetBounds(320, 6, 260, 24);
    RequestCycleEdit.SetBounds(6, 36, 180, 24);
    RequestTimeOutEdit.SetBounds(194, 36, 180, 24);
    LinkStateEdit.SetBounds(382, 36, 198, 24);
    LinkStateEdit.SetText("-------");
    DevicePageControl.SetBounds(6, 66, 574, 310);
    for (ui::TMemo* memo : {&RequestsMemo, &CommandsMemo})
        memo->SetBounds(2, 2, 564, 276);
    LogMemo.SetBounds(6, 6, 574, 336);
    ClearLogBitBtn.SetBounds(480, 348, 100, 28);
    RemoteAccessMemo.SetBounds(6, 6, 574, 336);
    SaveRemoteTerminalBitBtn.SetBounds(480, 348, 100, 28);
    OkBitBtn.SetBounds(384, 424, 100, 30);
    ReloadBitBtn.SetBounds(492, 424, 100, 30);
    // The two buttons on the log pages keep a silver face of their own.
    styledbuttons::ApplyFormButtonLook({&ClearLogBitBtn, &SaveRemoteTerminalBitBtn}, styledbuttons::clSilver);
    styledbuttons::ApplyFormButtonLook({&OkBitBtn, &ReloadBitBtn});
}

void TServerWindow::MakeViewsReadOnly() {
    for (ui::TMemo* memo : {&RequestsMemo, &CommandsMemo, &LogMemo, &RemoteAccessMemo}) {
        memo->SetReadOnly(true);
        memo->SetWordWrap(false);
    }
    for (ui::TEdit* edit : {&DmlNameEdit, &DmlStateEdit, &DmlTagCounterEdit, &DmlTransactionIdEdit,
                            &ConfigFileNameEdit, &DeviceCountEdit, &ThreadCountEdit, &ServerTransactionIdEdit,
                            &PIDEdit, &WindowHandleEdit, &TerminalIdEdit, &RemoteTerminalIdEdit,
                            &CommandsTerminalIdEdit, &RequestTimeOutEdit, &RequestCycleEdit, &LinkStateEdit})
        edit->SetReadOnly(true);
    LockTerminalChkBox.SetChecked(true);
}

void TServerWindow::ConnectHandlers() {
    GeneralTimer.SetInterval(1000);
    GeneralTimer.OnTimer = [this] { OnGeneralTimer(); };
    DeviceListComboBox.OnChange = [this] { OnRequestSelectDevice(); };
    OkBitBtn.OnClick = [this] {
        try {
            Hide();
        } catch (...) {
        }
    };
    ReloadBitBtn.OnClick = [this] { Close(); };
    ClearLogBitBtn.OnClick = [this] { LogMemo.Lines().Clear(); };
    SaveRemoteTerminalBitBtn.OnClick = [this] { SaveRemoteLog(); };
    PopupMenu.Add(Cp("Сохранить в файл..."), [this] { SaveRequests(); });
    RequestsMemo.SetPopupMenu(&PopupMenu);
    SaveDialog.Title = Cp("Сохранить как...");
    OnCloseQuery = [](bool& canClose) {
        canClose = true;
        framework::ServerClosing.store(true);
    };
}

TServerWindow::~TServerWindow() {
    OnDestroyWindow();
}

bool TServerWindow::ThreadsLeftRunning() {
    return ThreadsList != nullptr || RemoteSessionLeft;
}

bool TServerWindow::RemoteAccessEnabled() {
    return framework::Driver && framework::Driver->SupportsRemoteAccess() && framework::RAPEnabled.load();
}

void TServerWindow::PlaceEdit(ui::TEdit& edit, ui::TControl& parent, const std::string& caption, int column,
                              int row) {
    const int left = 10 + column * 290;
    const int top = 46 + row * 26;
    auto label = std::make_unique<ui::TLabel>(&parent, caption);
    label->SetBounds(left, top + 3, 100, 20);
    captions_.push_back(std::move(label));
    edit.SetBounds(left + 104, top, 170, 24);
}

void TServerWindow::OnCreateWindow() {
    if (Intercom == nullptr) platform::ExitReleasingNames(100);
    image_.reset();
    remote_.reset();
    RemoteAccessServer.DefaultPort = 6024;
    try {
        if (framework::Driver) SetCaption(framework::Driver->GetCaption());
        LogoLabel.SetCaption(Intercom->OstrolinkaInfo.GetName());
        ui::Application().SetTitle(Caption());

        framework::MonitorWindowHandle.store(Handle());
        framework::ServerClosing.store(false);
        framework::ErrorObj = new TServerErrorClass(Handle());

        Intercom->ServerData.SetProcessId(static_cast<int32_t>(getpid()));
        Intercom->ServerData.SetWindow(static_cast<int32_t>(Handle()));
        Intercom->ServerData.SetRunFlag(1);

        // The value only switches the pause on; its length is fixed.
        if (framework::IniReadInteger(ReplaceExtension(CfgPath, ".ini"), "server", "delay_on_start", 3000) >
            0)
            platform::Sleep(3000);

        InitDriver();
        framework::ErrorObj->Enabled = !framework::ErrorMngrDisabled.load();

        framework::VariableIndex = new framework::TVariableIndex();
        framework::VariableIndex->Build();

        if (framework::Driver) {
            ThreadsList = framework::Driver->CreateThreadsList().release();
            ThreadsList->CreateThreads(framework::Driver->DeviceList.get(), framework::ThreadOnPort.load());
        }

        FillDeviceChoice();
        RefreshState();

        // The Modbus driver never switches remote access on; the page only shows where it is.
        if (RemoteAccessEnabled()) {
            RemoteAccessServer.Bindings = {{"0.0.0.0", framework::RAPPort.load()}};
            RemoteAccessServer.DefaultPort = framework::RAPPort.load();
        } else {
            RemoteAccessTabSheet.SetTabVisible(false);
        }

        remote_ = std::make_unique<TRemoteAccess>();
        remote_->Session.Attach(RemoteAccessServer);

        if (!CreateStatusIcon(Caption())) {
            framework::ErrorObj->WriteMessage(framework::kErrIcon,
                                              Cp("Ошибка загрузки пиктограммы главного окна."));
            Show();
        }
    } catch (const std::exception& e) {
        if (framework::ErrorObj) framework::ErrorObj->WriteError(framework::kErrReported, -1, &e);
    } catch (...) {
    }
    GeneralTimer.SetEnabled(true);
}

void TServerWindow::InitDriver() {
    if (framework::Driver && !framework::Driver->Init(false, CfgPath))
        framework::ErrorObj->WriteMessage(framework::kErrNone,
                                          Cp("Ошибка инициализации специализированных данных."));
    if (framework::Driver) {
        // The module reports the same line from its own load.
        if (const framework::TConfigLoad load = framework::Driver->LoadConfig(CfgPath); !load)
            framework::ErrorObj->WriteMessage(framework::kErrNone, load.Message(CfgPath));
    }
}

bool TServerWindow::CreateStatusIcon(const std::string& tip) {
    ui::TIcon icon;
    const std::string iconFile = ReplaceExtension(ProgramPath(), ".ico");
    std::error_code ec;
    if (std::filesystem::exists(iconFile, ec)) {
        image_ = std::make_unique<ui::TIcon>();
        if (image_->LoadFromFile(iconFile)) {
            icon = *image_;
            ui::Application().SetIcon(icon);
        }
    }
    if (icon.Empty()) return false;
    trayIcon_ = std::make_unique<ui::TTrayIcon>(Handle(), 1, WM_TRAYNOTIFY);
    if (!trayIcon_->Add(icon, tip)) {
        trayIcon_.reset();
        return false;
    }
    return true;
}

void TServerWindow::DeleteStatusIcon() {
    if (trayIcon_) trayIcon_->Remove();
    trayIcon_.reset();
    image_.reset();
}

void TServerWindow::RefreshState() {
    if (Intercom == nullptr) return;
    auto& info = Intercom->OstrolinkaInfo;
    auto& slot = Intercom->ServerData;
    DmlNameEdit.SetText(info.GetName());
    const std::string state = ModuleStateText(info.GetState());
    if (!state.empty()) DmlStateEdit.SetText(state);
    DmlTagCounterEdit.SetText(platform::IntToStr(Intercom->DMLVariablesList.GetCount()));
    DmlTransactionIdEdit.SetText(platform::IntToStr(info.GetTransactionId()));
    ConfigFileNameEdit.SetText(CfgPath);
    DeviceCountEdit.SetText(
        platform::IntToStr(framework::Driver ? framework::Driver->DeviceList->Count() : 0));
    ThreadCountEdit.SetText(platform::IntToStr(ThreadsList ? ThreadsList->Count() : 0));
    ServerTransactionIdEdit.SetText(platform::IntToStr(slot.GetTransactionId()));
    PIDEdit.SetText(platform::IntToStr(slot.GetProcessId()));
    WindowHandleEdit.SetText(platform::IntToStr(slot.GetWindow()));
    TerminalIdEdit.SetText(platform::IntToStr(Intercom->RequestTerminal.GetCounter()));
    RemoteTerminalIdEdit.SetText(platform::IntToStr(Intercom->RemoteTerminal.GetCounter()));
    CommandsTerminalIdEdit.SetText(platform::IntToStr(Intercom->CommandsTerminal.GetCounter()));
}

void TServerWindow::FillDeviceChoice() {
    DeviceListComboBox.ClearItems();
    framework::TDeviceList* list = framework::Driver ? framework::Driver->DeviceList.get() : nullptr;
    for (int32_t i = 0; list != nullptr && i < list->Count(); ++i) {
        const framework::TDevice* device = list->Device(i);
        DeviceListComboBox.AddItem(device ? device->DeviceName : std::string());
    }
    DeviceListComboBox.SetEnabled(DeviceListComboBox.ItemCount() > 0);
    DeviceListComboBox.SetItemIndex(DeviceListComboBox.ItemCount() > 0 ? 0 : -1);
    OnRequestSelectDevice();
}

void TServerWindow::OnRequestSelectDevice() {
    framework::SelectedDeviceIndex.store(DeviceListComboBox.ItemIndex());
}

void TServerWindow::OnGeneralTimer() {
    if (Intercom == nullptr || framework::ServerClosing.load()) return;
    RefreshState();
    auto& slot = Intercom->ServerData;
    const uint8_t runFlag = slot.GetRunFlag();
    const bool remote = RemoteAccessEnabled();
    const bool running = ThreadsList && ThreadsList->Running.load();
    if (StartPending.load() || (runFlag == 1 && !running)) {
        if (ThreadsList) ThreadsList->ResumeAll();
        StartPending = false;
        if (remote) {
            try {
                RemoteAccessServer.Activate();
            } catch (const std::exception& e) {
                ReportRemote("Remote access activating exception: ", e);
            }
        }
    }
    if (runFlag == 0 && ThreadsList && ThreadsList->Running.load()) {
        if (remote) {
            try {
                RemoteSessionLeft = !RemoteAccessServer.Deactivate() || RemoteSessionLeft;
            } catch (const std::exception& e) {
                ReportRemote("Remote access deactivating exception: ", e);
            }
        }
        ThreadsList->TerminateAll();
        platform::PostMessage(Handle(), platform::WM_CLOSE, 0, 0);
    }
    slot.SetTransactionId(NextServerTransactionId(slot.GetTransactionId()));
    if (remote_ && remote_->Busy.load()) {
        const std::string text = remote_->Log.GetText();
        if (!platform::SameText(text, RemoteAccessMemo.Text())) RemoteAccessMemo.SetText(text);
    }
    const int32_t host = Intercom->OstrolinkaInfo.GetHostWindow();
    if (host == 0 || !platform::IsWindow(static_cast<platform::HWND>(host))) {
        GeneralTimer.SetEnabled(false);
        Close();
    }
}

void TServerWindow::OnDestroyWindow() {
    if (destroyed_) return;
    destroyed_ = true;
    // From here on no thread sends to this window: it may be gone before their send is served.
    framework::ServerClosing.store(true);
    framework::MonitorWindowHandle.store(0);
    try {
        GeneralTimer.SetEnabled(false);
        LogoLabel.SetFontSize(12);
        LogoLabel.SetCaption("Timer stopping");
        LogoLabel.Repaint();
        LogoLabel.SetCaption("Device request stopping.");
        LogoLabel.Repaint();
        // Sessions first: one may hold a device thread parked.
        RemoteSessionLeft = !RemoteAccessServer.Deactivate() || RemoteSessionLeft;
        if (ThreadsList) ThreadsList->TerminateAll();
        LogoLabel.SetCaption("Server stopped.");
        LogoLabel.Repaint();
        SetOwnRunFlag(0);
        if (RemoteSessionLeft) {
            // A session that did not end uses the remote log, the thread list and the error object:
            // they stay, and the program leaves without freeing them.
            (void)remote_.release();
            framework::Report(framework::kErrReported,
                              "A remote session did not stop; the server leaves it running.");
        }
        if (AnyThreadRunning(ThreadsList)) {
            // What a stuck thread may still touch stays: the program leaves without freeing it.
            framework::Report(framework::kErrReported,
                              "A device thread did not stop; the server leaves it running.");
        } else if (!RemoteSessionLeft) {
            delete ThreadsList;
            ThreadsList = nullptr;
            delete framework::VariableIndex;
            framework::VariableIndex = nullptr;
            delete framework::ErrorObj;
            framework::ErrorObj = nullptr;
        }
        remote_.reset();
    } catch (...) {
    }
    DeleteStatusIcon();
}

platform::LRESULT TServerWindow::WndProc(platform::UINT msg, platform::WPARAM wParam,
                                         platform::LPARAM lParam) {
    switch (msg) {
    case WM_SERVERLOG:
        OnServerLog(wParam, reinterpret_cast<const char*>(lParam));
        return 0;
    case framework::WM_TERMINALUPDATE:
        OnTerminalUpdate(wParam);
        return 0;
    case WM_TRAYNOTIFY:
        if (wParam == 1 && lParam == ui::WM_LBUTTONDBLCLK) {
            try {
                Show();
            } catch (...) {
            }
        }
        return 0;
    default:
        return TForm::WndProc(msg, wParam, lParam);
    }
}

void TServerWindow::OnServerLog(platform::WPARAM code, const char* text) {
    if (!Visible() || destroyed_) return;
    const std::string line = "(" + platform::IntToStr(static_cast<int32_t>(code)) + ") " + (text ? text : "");
    auto& lines = LogMemo.Lines();
    while (lines.Count() > kLogLines)
        lines.Delete(0);
    lines.Add(line);
}

void TServerWindow::OnTerminalUpdate(platform::WPARAM kind) {
    if (!Visible() || framework::ServerClosing.load() || LockTerminalChkBox.Checked()) return;
    const framework::TTraceTexts traces = framework::GetTraceTexts();
    if (kind == 0) {
        if (traces.RequestTrace != RequestsMemo.Text()) RequestsMemo.SetText(traces.RequestTrace);
        RequestCycleEdit.SetText(traces.CycleText);
        RequestTimeOutEdit.SetText(traces.ResponseTimeText);
        LinkStateEdit.SetText(traces.LinkText);
    } else if (kind == 1) {
        if (traces.CommandTrace != CommandsMemo.Text()) CommandsMemo.SetText(traces.CommandTrace);
    }
}

void TServerWindow::SaveRequests() {
    if (PageControl.ActivePageIndex() != 1) return;
    try {
        if (SaveDialog.Execute()) RequestsMemo.Lines().SaveToFile(SaveDialog.FileName);
    } catch (...) {
    }
}

void TServerWindow::SaveRemoteLog() {
    try {
        if (remote_ && SaveDialog.Execute()) SaveLogToFile(remote_->Log, SaveDialog.FileName);
    } catch (...) {
    }
}

} // namespace server
