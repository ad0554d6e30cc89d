// The server's one window: the state of the exchange area and of the devices, the traces of the
// selected device, the error log and the remote-access log. Normally hidden behind a tray icon; its
// one-second timer follows the module's run flag and the host window.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/terminal_data.h"
#include "platform/tcp_server.h"
#include "server/remote_session.h"
#include "styledbuttons/sbutton.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/icon.h"
#include "ui/memo.h"
#include "ui/menus.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"
#include "ui/timer.h"
#include "ui/tray_icon.h"

namespace server {

constexpr platform::UINT WM_SERVERLOG = 1246; // what TServerErrorClass sends
constexpr platform::UINT WM_TRAYNOTIFY = 1359;

// What a remote session shares with the window: RemoteBusy, the remote log and the session's
// handlers. On the heap, so that a session left running when the window goes keeps all of it.
struct TRemoteAccess {
    TRemoteAccess();
    std::atomic<bool> Busy{false};
    framework::TTerminalDataClass Log;
    TRemoteSession Session;
};

// The configuration file of the server, beside the program.
extern std::string CfgPath;
// Set until the first tick has started the threads.
extern std::atomic<bool> StartPending;

class TServerWindow : public ui::TForm {
public:
    // Does what the window's creation does: registers in the slot, loads the configuration, builds
    // the tag index and the (suspended) threads, and starts the timer.
    TServerWindow();
    ~TServerWindow() override;

    // The state views from the exchange area, the master list and the thread list.
    void RefreshState();
    void FillDeviceChoice();
    void OnGeneralTimer();
    // Stops everything the window started; runs once, from the destructor at the latest.
    void OnDestroyWindow();

    // Once the window is gone: true when a device thread or a remote session did not stop. The
    // thread list was kept then, and nothing else such a thread may still use may be freed either.
    static bool ThreadsLeftRunning();

    // The components the system names.
    ui::TPageControl PageControl;
    ui::TTabSheet StateTabSheet;
    ui::TTabSheet DevicesTabSheet;
    ui::TTabSheet LogTabSheet;
    ui::TTabSheet RemoteAccessTabSheet;
    ui::TGroupBox StateGroupBox;
    ui::TLabel LogoLabel;
    ui::TEdit DmlNameEdit, DmlStateEdit, DmlTagCounterEdit, DmlTransactionIdEdit, ConfigFileNameEdit,
        DeviceCountEdit, ThreadCountEdit, ServerTransactionIdEdit, PIDEdit, WindowHandleEdit, TerminalIdEdit,
        RemoteTerminalIdEdit, CommandsTerminalIdEdit, RequestTimeOutEdit, RequestCycleEdit, LinkStateEdit;
    ui::TComboBox DeviceListComboBox;
    ui::TPageControl DevicePageControl;
    ui::TTabSheet RequestsTabSheet, CommandsTabSheet, StatisticsTabSheet;
    ui::TMemo RequestsMemo, CommandsMemo, LogMemo, RemoteAccessMemo;
    ui::TCheckBox LockTerminalChkBox;
    styledbuttons::TsBitBtn ClearLogBitBtn, SaveRemoteTerminalBitBtn, OkBitBtn, ReloadBitBtn;
    ui::TTimer GeneralTimer;
    ui::TPopupMenu PopupMenu;
    ui::TSaveDialog SaveDialog;

    // Listens while polling runs, when the driver supports remote access and the configuration
    // enables it; one binding on every address at RAPPort.
    platform::TTcpServer RemoteAccessServer;
    // RemoteBusy and the remote log; nullptr until the window made them.
    TRemoteAccess* Remote() const { return remote_.get(); }

protected:
    platform::LRESULT WndProc(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam) override;

private:
    // The steps of construction.
    void LayOutStatePage();
    void LayOutOtherPages();
    void MakeViewsReadOnly();
    void ConnectHandlers();
    void OnCreateWindow();
    // The driver's own data, then the configuration; each failure is reported.
    void InitDriver();
    bool CreateStatusIcon(const std::string& tip);
    void DeleteStatusIcon();
    void OnRequestSelectDevice();
    void OnServerLog(platform::WPARAM code, const char* text);
    void OnTerminalUpdate(platform::WPARAM kind);
    void SaveRequests();
    void SaveRemoteLog();
    // The edits in two columns of label and value.
    void PlaceEdit(ui::TEdit& edit, ui::TControl& parent, const std::string& caption, int column, int row);

    // Remote access is on for this driver and configuration.
    static bool RemoteAccessEnabled();

    std::unique_ptr<TRemoteAccess> remote_;
    std::unique_ptr<ui::TTrayIcon> trayIcon_;
    std::unique_ptr<ui::TIcon> image_; // the icon file's picture, nullptr when none was loaded
    std::vector<std::unique_ptr<ui::TLabel>> captions_;
    bool destroyed_ = false;
};

// The text of the module state (State AND $7F); empty for a value that has none.
std::string ModuleStateText(uint8_t state);
// The server slot's counter: tests before it counts, so it reaches 65536 once before 0.
inline int32_t NextServerTransactionId(int32_t id) {
    return id > 65535 ? 0 : id + 1;
}
// Writes the slot (process id, window, run flag) only while it is still this process's: a newer
// server may have registered there meanwhile. False when it is not ours.
bool ClearOwnSlot();
bool SetOwnRunFlag(uint8_t flag);

} // namespace server
