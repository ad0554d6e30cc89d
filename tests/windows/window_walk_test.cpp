// Every window of both programs, page by page, as a user sees it: no text that was converted twice, no
// caption, label or property name cut by the room its control gives it, no plain button on any page.
// The forms carry their own font, so the walk runs under a large application font such as a host may
// set. Each page is saved as walk_<window>_<page>.png in the build's test-output folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTabBar>
#include <QTabWidget>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/device_list.h"
#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/intercom_test_support.h"
#include "modbus/modbus_device.h"
#include "modbus/modbus_driver.h"
#include "module/about_dialog.h"
#include "module/device_setup_dialog.h"
#include "module/driver_setup_dialog.h"
#include "module/install.h"
#include "module/log_window.h"
#include "module/module_log.h"
#include "module/terminal_window.h"
#include "platform/text.h"
#include "server/server_globals.h"
#include "server/server_window.h"
#include "styledbuttons/button_clicks.h"
#include "styledbuttons/button_test_support.h"
#include "ui/control_test_access.h"
#include "ui/list_box.h"
#include "ui/ui_test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::Cp;

// The masked frame of the styled buttons shades this many pixels in from each edge.
constexpr int kButtonFrame = 4;

int TextWidth(const QFont& font, const QString& text) {
    return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

// Its cp1251 bytes read as UTF-8 Cyrillic: the text went through the conversion twice.
bool ConvertedTwice(const QString& text) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(QByteArray::fromStdString(ui::FromQt(text)));
    if (utf8.hasError()) return false;
    return std::any_of(decoded.begin(), decoded.end(),
                       [](QChar c) { return c.unicode() >= 0x400 && c.unicode() < 0x500; });
}

// What is wrong with the texts the window shows now; nothing for a sound window.
class TTextChecker {
public:
    explicit TTextChecker(QWidget* window) : window_(window) {}

    std::set<std::string> Findings() {
        Read(window_->windowTitle(), "title");
        for (QWidget* w : window_->findChildren<QWidget*>())
            if (w->isVisibleTo(window_)) Check(w);
        return std::move(findings_);
    }

private:
    void Read(const QString& text, const char* what) {
        if (ConvertedTwice(text))
            findings_.insert(std::string("garbled ") + what + " \"" + text.toStdString() + "\"");
    }
    void Cut(const char* what, const QString& text, const std::string& why) {
        findings_.insert(std::string("cut ") + what + " \"" + text.toStdString() + "\": " + why);
    }
    static std::string Fits(const QSize& need, const QSize& room) {
        return std::to_string(need.width()) + "x" + std::to_string(need.height()) + " in " +
               std::to_string(room.width()) + "x" + std::to_string(room.height());
    }
    // Read, and cut where its control needs more room than it has.
    void Shown(const char* what, const QString& text, const QSize& need, const QSize& room) {
        Read(text, what);
        if (need.width() > room.width() || need.height() > room.height()) Cut(what, text, Fits(need, room));
    }

    void Check(QWidget* w) {
        if (auto* button = dynamic_cast<styledbuttons::TsButtonControl*>(ui::ControlOf(w)))
            return StyledButton(*button);
        if (auto* label = qobject_cast<QLabel*>(w)) return Label(label);
        if (auto* box = qobject_cast<QAbstractButton*>(w)) {
            if (!box->text().isEmpty()) Shown("check box", box->text(), box->sizeHint(), box->size());
            return;
        }
        if (auto* group = qobject_cast<QGroupBox*>(w))
            return Shown("group", group->title(), {group->minimumSizeHint().width(), 0}, group->size());
        if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            QString all;
            for (int i = 0; i < tabs->count(); ++i) {
                if (!tabs->isTabVisible(i)) continue;
                Read(tabs->tabText(i), "tab");
                all += tabs->tabText(i) + " ";
            }
            // Tabs are shortened only where they do not all fit.
            const QWidget* room = tabs->parentWidget() ? tabs->parentWidget() : tabs;
            if (tabs->sizeHint().width() > room->width())
                Cut("tabs", all, Fits(tabs->sizeHint(), room->size()));
            return;
        }
        if (auto* list = qobject_cast<QListWidget*>(w)) return List(list);
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                Read(combo->itemText(i), "list item");
            return;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return Read(edit->text(), "edit");
        if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) return Read(memo->toPlainText(), "memo");
    }

    void Label(QLabel* label) {
        if (label->text().isEmpty()) return;
        // Wrapped, it needs its lines' height.
        const QSize need = label->wordWrap() ? QSize(label->width(), label->heightForWidth(label->width()))
                                             : label->sizeHint();
        Shown("label", label->text(), need, label->size());
    }

    // A row of a two-column list keeps its name to the left of the value column.
    void List(QListWidget* list) {
        const auto* box = dynamic_cast<ui::TListBox*>(ui::ControlOf(list));
        const int room = box != nullptr ? box->NameColumnWidth() : -1;
        for (int i = 0; i < list->count(); ++i) {
            const QString line = list->item(i)->text();
            Read(line, "list item");
            const QString name = line.left(line.indexOf(QChar(8)));
            if (room >= 0 && TextWidth(list->font(), name) > room)
                Cut("property name", name,
                    std::to_string(TextWidth(list->font(), name)) + " in " + std::to_string(room));
        }
    }

    // One line, inside the frame, also one pixel further right while pressed.
    void StyledButton(styledbuttons::TsButtonControl& button) {
        const QString caption = ui::ToQt(button.Caption());
        Read(caption, "button");
        if (caption.isEmpty()) return;
        const styledbuttons::TPoint extent = button.GetTextExtent();
        if (extent.Y > QFontMetrics(uitest::WidgetOf(button)->font()).height())
            Cut("button", caption, "wraps");
        const styledbuttons::TRect r = button.GetCaptionRect();
        const int left = r.Left + (r.Right - r.Left - extent.X) / 2;
        if (left < kButtonFrame || left + extent.X + 1 > button.Width() - kButtonFrame)
            Cut("button", caption, std::to_string(extent.X) + " wide in " + std::to_string(button.Width()));
    }

    QWidget* window_;
    std::set<std::string> findings_;
};

// The Modbus driver with what it does not offer switched on or off.
class TWalkDriver : public modbus::TModbusrtu_Driver {
public:
    bool SupportsRemoteAccess() override { return Extras; }
    bool HasAdditionalSettings() override { return Extras; }
    bool Extras = false;
};

// Answers a box with its button of that caption; a box without it is closed, so nothing hangs.
void Answer(QWidget* box, const QString& caption) {
    QWidget* button = sbtest::ButtonNamed(box, caption);
    if (button != nullptr) return sbtest::ClickButton(button);
    ADD_FAILURE() << "no button " << caption.toStdString();
    box->close();
}

class WindowWalk : public intercom_test::IntercomTest {
protected:
    WindowWalk() : IntercomTest("walk") {}
    void SetUp() override {
        IntercomTest::SetUp();
        ui::EnsureApplication();
        savedFont_ = QApplication::font();
        // A host's own font, far from the forms' one.
        QFont hostFont("DejaVu Serif");
        hostFont.setPixelSize(19);
        QApplication::setFont(hostFont);
        savedDriver_ = framework::Driver;
        framework::Driver = &driver_;
        dir_ = fs::temp_directory_path() / ("walk-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        area_ = framework::TIntercomInterface::Create(4, "Quillary.dat");
        ASSERT_TRUE(area_ && area_->IsOpen());
        framework::Intercom = area_.get();
    }
    void TearDown() override {
        framework::ErrorObj = nullptr;
        framework::Intercom = nullptr;
        area_.reset();
        framework::Driver = savedDriver_;
        QApplication::setFont(savedFont_);
        fs::remove_all(dir_);
        IntercomTest::TearDown();
    }

    // Each page of the window shown in turn, checked and saved.
    void Walk(QWidget* window, const std::string& name) {
        for (const std::string& plain : sbtest::PlainButtons(window))
            ADD_FAILURE() << "plain button " << plain;
        window->show();
        QApplication::processEvents();
        const QList<QTabWidget*> pageControls = window->findChildren<QTabWidget*>();
        if (pageControls.isEmpty()) return CheckPage(window, name);
        for (int control = 0; control < pageControls.size(); ++control) {
            QTabWidget* pages = pageControls[control];
            for (int page = 0; page < pages->count(); ++page) {
                // A page hidden by its program is walked too.
                pages->setTabVisible(page, true);
                pages->setCurrentIndex(page);
                // The pages that hold this page control come to the front too.
                for (QWidget* w = pages; w != window; w = w->parentWidget()) {
                    for (QTabWidget* outer : pageControls) {
                        if (outer->indexOf(w) >= 0) outer->setCurrentWidget(w);
                    }
                }
                QApplication::processEvents();
                CheckPage(window, name + "_" + std::to_string(control) + std::to_string(page));
            }
        }
    }
    // The window as it shows now; saved when a name is given.
    void CheckPage(QWidget* window, const std::string& name = {}) {
        for (const std::string& finding : TTextChecker(window).Findings())
            ADD_FAILURE() << finding;
        if (name.empty()) return;
        const fs::path png = sbtest::TestOutputDir() / ("walk_" + name + ".png");
        EXPECT_TRUE(window->grab().save(QString::fromStdString(png.string()))) << png;
    }

    static void AddDevice(framework::TDriver& driver, const char* name) {
        framework::TDevice* device = driver.DeviceList->AddDevice()->Device.get();
        device->Properties->FindProperty("DeviceName")->Value = Cp(name);
        device->ApplyProperties();
    }

    void ServerWindow() {
        {
            modbus::TModbusrtu_Driver configured;
            AddDevice(configured, "Котельная");
            ASSERT_TRUE(configured.SaveConfig((dir_ / "Quillary.cfg").string()));
        }
        std::ofstream(dir_ / "Quillary.ini", std::ios::binary) << "[server]\r\ndelay_on_start=0\r\n";
        server::CfgPath = (dir_ / "Quillary.cfg").string();
        const platform::HWND host =
            platform::CreateWindowHandle([](platform::HWND, platform::UINT, platform::WPARAM,
                                            platform::LPARAM) -> platform::LRESULT { return 0; });
        area_->OstrolinkaInfo.SetHostWindow(static_cast<int32_t>(host));
        area_->OstrolinkaInfo.SetName(Cp("Модуль опроса"));
        area_->OstrolinkaInfo.SetState(2);
        {
            server::TServerWindow window;
            // Polling would start at the timer's first tick.
            window.GeneralTimer.SetEnabled(false);
            window.RefreshState();
            Walk(uitest::WidgetOf(window), "server_window");
        }
        platform::DestroyWindowHandle(host);
        driver_.DeviceList->FreeAll();
        framework::ServerClosing = false;
    }

    void InstallDialogs() {
        const fs::path source = dir_ / "source", target = dir_ / "target";
        fs::create_directories(source);
        fs::create_directories(target);
        {
            module::TInstallProcDialog fatal;
            EXPECT_FALSE(fatal.Install(driver_, source.string() + "/", target.string() + "/"));
            Walk(uitest::WidgetOf(fatal), "install_dialog");
        }
        std::ofstream(source / driver_.GetServerFileName()) << "server";
        module::TInstallProcDialog warnings;
        warnings.Install(driver_, source.string() + "/", target.string() + "/");
        EXPECT_FALSE(warnings.FatalError);
        Walk(uitest::WidgetOf(warnings), "install_dialog_warnings");
    }

    // With a device, remote access and additional settings, every control shows and is enabled;
    // without, the device buttons and "Кроме того..." are disabled.
    void DriverSetup(bool full) {
        driver_.Extras = full;
        if (full) AddDevice(driver_, "Котельная");
        {
            module::TDriverSetupDlg dialog(driver_);
            Walk(uitest::WidgetOf(dialog), full ? "driver_setup" : "driver_setup_disabled");
        }
        driver_.DeviceList->FreeAll();
        driver_.Extras = false;
    }

    // The device setup with the hint of each property in turn.
    void DeviceSetup() {
        modbus::TModbus_Device device;
        module::TDeviceSetupDialog dialog(device, device.Properties.get());
        Walk(uitest::WidgetOf(dialog), "device_setup");
        for (int row = 1; row < dialog.SettingListBox.ItemCount(); ++row) {
            dialog.SettingListBox.SetItemIndex(row);
            dialog.OnChangeSettingIndex();
            CheckPage(uitest::WidgetOf(dialog));
        }
    }

    // The value editor of each property, and the box that refuses a value.
    void ValueEditor() {
        modbus::TModbus_Property properties;
        properties.InitProperties();
        for (int32_t i = 0; i < properties.Count(); ++i) {
            const std::string name = properties.Property(i)->Name;
            module::TSettingEditor editor(&properties, name);
            editor.Show();
            const bool pictured =
                name == "DeviceName" || name == "VarConnectStateName" || name == "RS232Parity";
            Walk(uitest::WidgetOf(editor), pictured ? "value_editor_" + name : "");
        }
        module::TSettingEditor editor(&properties, "DeviceName");
        editor.SettingTextEdit.SetText("a\"b");
        const auto refusal = uitest::WhenModal([&](QWidget* box) {
            Walk(box, "info_box");
            Answer(box, QStringLiteral("Да"));
        });
        editor.OkBitBtn.Click();
    }

    // The state window with a traced device, and the box that asks before a restart.
    void StateWindow() {
        AddDevice(driver_, "Котёл 1");
        AddDevice(driver_, "Насосная станция");
        {
            module::TTerminalWindow window;
            framework::TTerminalParams params{};
            params.PortName.Set("COM3");
            params.Frequency = 1000;
            params.Interval = 35;
            area_->RequestTerminal.WriteParams(0, params);
            area_->RequestTerminal.WriteText(Cp("Котёл 1: (01)(03)(00)(00)"));
            area_->CommandsTerminal.WriteText(Cp("Команда 1"));
            window.OnUpdateByTimer();
            Walk(uitest::WidgetOf(window), "state_window");
            const auto question = uitest::WhenModal([&](QWidget* box) {
                Walk(box, "ask_box");
                Answer(box, QStringLiteral("Нет"));
            });
            window.ResumeThreadBitBtn.Click();
        }
        driver_.DeviceList->FreeAll();
    }

    void LogAndAboutWindows() {
        module::TModuleErrorClass errors;
        framework::ErrorObj = &errors;
        errors.WriteMessage(-16, Cp("Ошибка загрузки пиктограммы главного окна."));
        {
            module::TLogWindow log;
            Walk(uitest::WidgetOf(log), "log_window");
        }
        framework::ErrorObj = nullptr;
        module::TAboutDialog about;
        Walk(uitest::WidgetOf(about), "about_box");
    }

    TWalkDriver driver_;
    std::unique_ptr<framework::TIntercomInterface> area_;
    fs::path dir_;

private:
    framework::TDriver* savedDriver_ = nullptr;
    QFont savedFont_;
};

TEST_F(WindowWalk, EveryWindowShowsItsTextsWholeAndReadable) {
    const std::vector<std::pair<const char*, std::function<void()>>> windows = {
        {"server window", [&] { ServerWindow(); }},
        {"install dialog", [&] { InstallDialogs(); }},
        {"driver setup", [&] { DriverSetup(true); }},
        {"driver setup, disabled", [&] { DriverSetup(false); }},
        {"device setup", [&] { DeviceSetup(); }},
        {"value editor", [&] { ValueEditor(); }},
        {"state window", [&] { StateWindow(); }},
        {"log window and about box", [&] { LogAndAboutWindows(); }},
    };
    for (const auto& [name, open] : windows) {
        SCOPED_TRACE(name);
        open();
    }
}

} // namespace
