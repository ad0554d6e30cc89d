#include "module/terminal_window.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/intercom.h"
#include "module/driver_thread.h"
#include "module/message_box.h"
#include "module/module_init.h"
#include "module/qt_application.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace module {
namespace {

constexpr ui::TColor clBlack = 0x000000;
constexpr ui::TColor clMaroon = 0x000080;

// Both exist: the window has something to show.
framework::TIntercomInterface* Area() {
    return framework::Driver != nullptr ? framework::Intercom : nullptr;
}

// The longest one read of the terminals waits for locks, in all. The window runs on the host's
// thread: a lock byte left taken, or random bytes over the area, costs a skipped refresh, never
// seconds of the host's GUI.
constexpr uint64_t kReadLockWaitMs = 50;

// The locks of one read of the terminals: the module's lock takers, so that the release of a dead
// server's locks never frees ours, then each region's lock byte, all within one short wait. A read
// that does not get its lock reads nothing; the next refresh tries again.
class TTerminalReads {
public:
    TTerminalReads()
        : deadline_(platform::MonotonicMs() + kReadLockWaitMs), takers_(RegionLockTakers, std::defer_lock) {
        (void)takers_.try_lock_for(std::chrono::milliseconds(kReadLockWaitMs));
    }
    bool Counter(const framework::TTerminalClass& terminal, int32_t& counter) {
        return takers_.owns_lock() && terminal.TryGetCounter(Left(), counter);
    }
    bool Text(const framework::TTerminalClass& terminal, std::string& text) {
        return takers_.owns_lock() && terminal.TryReadText(Left(), text);
    }

private:
    uint64_t Left() const {
        const uint64_t now = platform::MonotonicMs();
        return now < deadline_ ? deadline_ - now : 0;
    }
    const uint64_t deadline_;
    std::unique_lock<std::timed_mutex> takers_;
};

// Entered once at a time: the restart's waits serve the host's loop, which may bring its click again.
bool RestartRunning = false;

} // namespace

TTerminalWindow::TTerminalWindow()
    : PageControl(this), PollTabSheet(PageControl, "Опрос"_cp), CommandsTabSheet(PageControl, "Команды"_cp),
      ServiceTabSheet(PageControl, "Сервис"_cp), DevicesGroupBox(&PollTabSheet, " Список устройств "_cp),
      DeviceListBox(&DevicesGroupBox), TerminalGroupBox(&PollTabSheet, " Терминал "_cp),
      TerminalMemo(&TerminalGroupBox), PortNameLabel(&PollTabSheet, "Порт:"_cp),
      ConnectionStateLabel(&PollTabSheet, "Соединение:"_cp),
      FrequensyLabel(&PollTabSheet, "Частота опроса:"_cp), IntervalLabel(&PollTabSheet, "Время ответа:"_cp),
      PortNamePanel(&PollTabSheet), ConnectionStatePanel(&PollTabSheet), FrequensyPanel(&PollTabSheet),
      IntervalPanel(&PollTabSheet), TerminalDisabledCheckBox(&PollTabSheet, "Отключить"_cp),
      CommandsTerminalMemo(&CommandsTabSheet), ServiceLabel(&ServiceTabSheet),
      ResumeThreadBitBtn(&ServiceTabSheet, "Перезапустить..."_cp) {
    SetCaption("Информация о работе драйвера..."_cp);
    SetClientSize(600, 470);
    SetFixedSize(true);
    PageControl.SetBounds(4, 4, 592, 462);

    DevicesGroupBox.SetBounds(8, 8, 180, 414);
    DeviceListBox.SetBounds(8, 22, 164, 384);
    DeviceListBox.OnChange = [this] { OnSelectController(); };
    TerminalGroupBox.SetBounds(196, 8, 380, 272);
    TerminalMemo.SetBounds(8, 22, 364, 242);
    TerminalMemo.SetReadOnly(true);
    ui::TLabel* labels[] = {&PortNameLabel, &ConnectionStateLabel, &FrequensyLabel, &IntervalLabel};
    ui::TPanel* panels[] = {&PortNamePanel, &ConnectionStatePanel, &FrequensyPanel, &IntervalPanel};
    for (int row = 0; row < 4; ++row) {
        labels[row]->SetBounds(200, 292 + 28 * row, 110, 24);
        panels[row]->SetBounds(316, 290 + 28 * row, 260, 24);
    }
    TerminalDisabledCheckBox.SetBounds(200, 402, 200, 22);
    TerminalDisabledCheckBox.OnClick = [this] { OnLockTerminal(); };

    CommandsTerminalMemo.SetBounds(8, 8, 568, 414);
    CommandsTerminalMemo.SetReadOnly(true);

    ServiceLabel.SetBounds(8, 8, 568, 80);
    ServiceLabel.SetWordWrap(true);
    ServiceLabel.SetCaption(
        "Перезапуск потока драйвера останавливает обмен данными с ядром OSTROLINKA, закрывает "
        "сервер доступа к устройству и запускает их заново. Воспользуйтесь им, если данные "
        "от устройств перестали поступать."_cp);
    ResumeThreadBitBtn.SetBounds(8, 96, 150, 30);
    ResumeThreadBitBtn.OnClick = [this] { ResumeThreadBitBtnClick(); };
    styledbuttons::ApplyFormButtonLook(ResumeThreadBitBtn);

    Timer.SetEnabled(false);
    Timer.SetInterval(100);
    Timer.OnTimer = [this] { OnUpdateByTimer(); };
    CenterOnScreen();
    OnCreateDialog();
}

TTerminalWindow::~TTerminalWindow() {
    FormDestroy();
}

void TTerminalWindow::FormDestroy() {
    Timer.SetEnabled(false);
}

void TTerminalWindow::OnCreateDialog() {
    RequestCounter = -1;
    CommandsCounter = -1;
    DeviceListBox.SetEnabled(false);
    if (Area() != nullptr) {
        DeviceListBox.BeginUpdate();
        {
            std::lock_guard<std::mutex> guard(MasterListLock);
            const framework::TDeviceList& devices = *framework::Driver->DeviceList;
            for (int32_t i = 0; i < devices.Count(); ++i) {
                const framework::TDevice* device = devices.Device(i);
                DeviceListBox.AddItem(device != nullptr ? device->DeviceName : std::string());
            }
        }
        DeviceListBox.EndUpdate();
        if (DeviceListBox.ItemCount() > 0) {
            DeviceListBox.SetEnabled(true);
            DeviceListBox.SetItemIndex(0);
            TakeOwner(0);
            OnUpdateByTimer();
        }
    }
    Timer.SetEnabled(true);
}

void TTerminalWindow::OnUpdateByTimer() {
    framework::TIntercomInterface* area = Area();
    if (area == nullptr) return;
    TTerminalReads reads;
    const framework::TTerminalClass& commands = area->CommandsTerminal;
    int32_t commandsCounter = 0;
    std::string text;
    if (!reads.Counter(commands, commandsCounter)) return;
    if (commandsCounter != CommandsCounter) {
        if (!reads.Text(commands, text)) return;
        CommandsCounter = commandsCounter;
        CommandsTerminalMemo.SetText(text);
    }

    const int32_t i = DeviceListBox.ItemIndex();
    if (i < 0) return;
    framework::TTerminalClass& requests = area->RequestTerminal;
    if (i != requests.GetOwner()) {
        if (!TerminalMemo.Text().empty()) TerminalMemo.Lines().Clear();
        return;
    }
    int32_t counter = 0;
    if (!reads.Counter(requests, counter) || counter == RequestCounter) return;
    if (RequestCounter == kCounterUnread) {
        // The device was chosen while the counter could not be read: what the terminal held then
        // was the previous device's trace.
        RequestCounter = counter;
        return;
    }
    if (!reads.Text(requests, text)) return;
    RequestCounter = counter;
    TerminalMemo.SetText(text);
    framework::TTerminalParams params;
    requests.ReadParams(i, params);
    PortNamePanel.SetCaption(params.PortName.Get());
    FrequensyPanel.SetCaption(platform::IntToStr(params.Frequency));
    IntervalPanel.SetCaption(platform::IntToStr(params.Interval));
    const bool linked = params.LinkState != 0;
    ConnectionStatePanel.SetCaption(linked ? "Ok" : "Lost");
    ConnectionStatePanel.SetFontColor(linked ? clBlack : clMaroon);
}

void TTerminalWindow::OnSelectController() {
    if (Area() == nullptr) return;
    TakeOwner(DeviceListBox.ItemIndex());
}

void TTerminalWindow::TakeOwner(int32_t index) {
    framework::TTerminalClass& requests = Area()->RequestTerminal;
    if (requests.GetOwner() != index) {
        // Until the server traces the new device the terminal holds the previous one's trace: it is
        // taken as seen, and nothing of the previous device stays on show.
        TTerminalReads reads;
        if (!reads.Counter(requests, RequestCounter)) RequestCounter = kCounterUnread;
        TerminalMemo.Lines().Clear();
        for (ui::TPanel* panel : {&PortNamePanel, &ConnectionStatePanel, &FrequensyPanel, &IntervalPanel})
            panel->SetCaption(std::string());
    }
    requests.SetOwner(index);
}

void TTerminalWindow::OnLockTerminal() {
    Timer.SetEnabled(!TerminalDisabledCheckBox.Checked());
}

void TTerminalWindow::ResumeThreadBitBtnClick() {
    if (RestartRunning) return;
    const platform::TFlagScope restarting(RestartRunning);
    if (AskBox(this, "Внимание"_cp, "Вы уверены в том, что вам необходимо перезапустить поток драйвера?"_cp,
               true, true) == ui::mrCancel)
        return;
    ResumeThreadBitBtn.SetEnabled(false);
    if (!RestartModuleThread(ThreadWaitMs))
        InfoBox(this, "Внимание"_cp,
                "Возникла критическая ошибка при перезапуске потока. Перезапустите сервер OSTROLINKA."_cp,
                true, false);
    ResumeThreadBitBtn.SetEnabled(true);
}

bool ShowTerminalWindow(platform::HWND) {
    if (!UseApplication()) return false;
    TTerminalWindow window;
    window.ShowModal();
    return true;
}

} // namespace module
