// The driver state window: the server's trace of one device and of the commands, the state of its
// link, and the restart of the module thread.
#pragma once

#include <cstdint>

#include "platform/messages.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"
#include "ui/list_box.h"
#include "ui/memo.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"
#include "ui/timer.h"

namespace module {

class TTerminalWindow : public ui::TForm {
public:
    TTerminalWindow();
    ~TTerminalWindow() override;

    void OnCreateDialog();
    void FormDestroy();
    void OnUpdateByTimer();
    void OnLockTerminal();
    void OnSelectController();
    void ResumeThreadBitBtnClick();

    ui::TPageControl PageControl;
    ui::TTabSheet PollTabSheet;
    ui::TTabSheet CommandsTabSheet;
    ui::TTabSheet ServiceTabSheet;

    ui::TGroupBox DevicesGroupBox;
    ui::TListBox DeviceListBox;
    ui::TGroupBox TerminalGroupBox;
    ui::TMemo TerminalMemo;
    ui::TLabel PortNameLabel;
    ui::TLabel ConnectionStateLabel;
    ui::TLabel FrequensyLabel;
    ui::TLabel IntervalLabel;
    ui::TPanel PortNamePanel;
    ui::TPanel ConnectionStatePanel;
    ui::TPanel FrequensyPanel;
    ui::TPanel IntervalPanel;
    ui::TCheckBox TerminalDisabledCheckBox;

    ui::TMemo CommandsTerminalMemo;

    ui::TLabel ServiceLabel;
    styledbuttons::TsBitBtn ResumeThreadBitBtn;

    // The terminals' counters last shown, -1 for none; kCounterUnread while the device was chosen
    // with the counter unreadable.
    static constexpr int32_t kCounterUnread = INT32_MIN;
    int32_t RequestCounter = -1;
    int32_t CommandsCounter = -1;
    // How long a restart waits for the old module thread to end.
    uint32_t ThreadWaitMs = 10000;

    // Last, so that it stops before the controls it fills go.
    ui::TTimer Timer;

private:
    // The request terminal traces the device of that index from now on.
    void TakeOwner(int32_t index);
};

// Shows the window modally; false, showing nothing, where no window can be made on the calling thread.
bool ShowTerminalWindow(platform::HWND parent);

} // namespace module
