// The driver setup, device setup and value editor windows, driven in-process through their buttons;
// each modal loop is ended from inside by a zero-time timer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "framework/driver_error.h"
#include "host/host_tag_database.h"
#include "host/host_tag_test_support.h"
#include "modbus/edd_file.h"
#include "modbus/modbus_device.h"
#include "modbus/modbus_driver.h"
#include "module/device_setup_dialog.h"
#include "module/driver_setup_dialog.h"
#include "module/module_init.h"
#include "module/module_log.h"
#include "module/qt_application.h"
#include "platform/files.h"
#include "platform/text.h"
#include "styledbuttons/button_test_support.h"
#include "ui/control_test_access.h"
#include "ui/ui_test_support.h"

namespace {

namespace fs = std::filesystem;
using framework::TPropertyType;
using platform::Cp;
using uitest::WhenModal;

fs::path TestOutput(const std::string& name) {
    const char* bin = std::getenv("QUILLARY_BIN");
    const fs::path outputs =
        fs::path(bin ? bin : fs::temp_directory_path().c_str()).parent_path() / "test-output";
    fs::create_directories(outputs);
    return outputs / name;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Press(QWidget* window, const char* captionUtf8) {
    QWidget* button = sbtest::ButtonNamed(window, QString::fromUtf8(captionUtf8));
    ASSERT_NE(button, nullptr) << "no button " << captionUtf8;
    ASSERT_TRUE(button->isEnabled()) << captionUtf8;
    sbtest::ClickButton(button);
}

// The window's lists in the order they were made.
QListWidget* ListOf(QWidget* window, int index) {
    return window->findChildren<QListWidget*>().value(index);
}

std::string RowText(QListWidget* list, int row) {
    return ui::FromQt(list->item(row)->text());
}

void MouseOnRow(QListWidget* list, int row, std::initializer_list<QEvent::Type> types) {
    const QPoint at = list->visualItemRect(list->item(row)).center();
    for (QEvent::Type type : types) {
        QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &event);
    }
}

void DoubleClickRow(QListWidget* list, int row) {
    list->setCurrentRow(row);
    MouseOnRow(list, row,
               {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick});
}

void Type(QWidget* edit, const QString& text) {
    for (QChar c : text) {
        const int key = c == QChar(8) ? int(Qt::Key_Backspace) : 0;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}

int RowOf(framework::TDevicePropertyList& list, const std::string& name) {
    for (int32_t i = 0; i < list.Count(); ++i)
        if (list.Property(i)->Name == name) return i;
    return -1;
}

// ---- Value editor

class ValueEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = modbus::DeviceDescriptions;
        modbus::DeviceDescriptions = nullptr; // RequestType has no entries yet
        list_.InitProperties();
        list_.SetProperty("Ratio", "1.5", TPropertyType::Real);
    }
    void TearDown() override { modbus::DeviceDescriptions = saved_; }

    std::string Value(const std::string& name) { return list_.FindProperty(name)->Value; }

    modbus::TModbus_Property list_;
    modbus::TEDDDeviceFile* saved_ = nullptr;
};

// What OK leaves: the stored value, or the refusal that kept the editor open.
struct ValueCase {
    const char* name;
    const char* stored;
    std::function<void(module::TSettingEditor&)> edit;
    std::string expected; // stored after OK
    bool refused;
    const char* link = nullptr; // TypeOfConnection before the editor opens; nullptr leaves it
};

TEST_F(ValueEditorTest, OkConvertsEachPropertyTypeAndRefusesWhatTheFileCannotHold) {
    auto text = [](const char* t) {
        return [t](module::TSettingEditor& e) { e.SettingTextEdit.SetText(t); };
    };
    auto choose = [](int index) {
        return [index](module::TSettingEditor& e) {
            auto* combo = static_cast<QComboBox*>(uitest::WidgetOf(e.ListsComboBox));
            combo->setCurrentIndex(index);
            emit combo->activated(index);
        };
    };
    auto typed = [](const char* utf8) {
        return [utf8](module::TSettingEditor& e) {
            Type(uitest::WidgetOf(e.SettingTextEdit), QString::fromUtf8(utf8));
        };
    };
    // "..." puts the host tag picked in the host's chooser; a cancelled chooser keeps the value.
    auto pick = [](int row) {
        return [row](module::TSettingEditor& e) {
            const auto chooser = WhenModal([row](QWidget* chooser) {
                auto* names = chooser->findChild<QListWidget*>();
                QStringList offered;
                for (int i = 0; i < names->count(); ++i)
                    offered << names->item(i)->text();
                EXPECT_EQ(offered, (QStringList{"A1", QString::fromUtf8("Давление")}));
                names->setCurrentRow(row);
                chooser->findChild<QDialogButtonBox*>()
                    ->button(row < 0 ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)
                    ->click();
            });
            e.VarManagerBitBtn.Click();
        };
    };
    const fs::path tagdb = fs::temp_directory_path() / ("setup-tags-" + std::to_string(::getpid()));
    ASSERT_TRUE(
        host::WriteHostTagDatabase(tagdb.string(), {host_test::Tag(1, "A1", "PLC: DEVICE=1; ADDRESS=1"),
                                                    host_test::Tag(2, Cp("Давление"), "")}));
    ::setenv("OSTROLINKA_TAGDB", tagdb.c_str(), 1);
    auto nothing = [](module::TSettingEditor&) {};
    const ValueCase cases[] = {
        // A yes/no value opens on what it means as the list reads it: OK without a choice keeps that.
        {"Enabled", "True", nothing, "True", false}, // as a save writes it, no entry of that spelling
        {"Enabled", "1", nothing, "True", false},
        {"ICMPOnConnect", "-1", nothing, "True", false},
        // Not read as yes or no: what the reader takes it for, the device clear, the TCP link set.
        {"Enabled", "yes", nothing, "False", false},
        {"ICMPOnConnect", " 1", nothing, "True", false, "TCP/IP"},
        {"Enabled", "false", choose(1), "True", false},
        {"ICMPOnConnect", "TRUE", choose(0), "False", false},
        {"TimeOut", "100", text("  "), "0", false},
        {"TimeOut", "100", text("12x"), "100", true},
        {"IPPort", "4001", text("70000"), "4001", true},
        {"IPPort", "4001", text("65535"), "65535", false},
        {"DeviceAddress", "1", text("0"), "1", true},
        {"Ratio", "1.5", text(""), "0", false},
        {"Ratio", "1.5", text("1..5"), "1.5", true},
        {"Ratio", "1.5", text("2.25"), "2.25", false},
        {"DeviceName", "x", text("a\"b"), "x", true},
        {"DeviceName", "x", text("a>b"), "x", true},
        {"DeviceName", "x", text("a\r\nb"), "x", true},
        {"DeviceName", "x", text(" a b "), " a b ", false},
        {"DeviceName", "x", typed("?"), "x?", false},
        {"DeviceName", "x", typed("ä"), "x", true}, // not in cp1251: it would be stored as '?'
        {"VarConnectStateName", "", typed("中"), "", true},
        {"VarConnectStateName", "", text("  Tag1 "), "Tag1", false},
        {"VarConnectStateName", "", text("Tag\"1"), "", true},
        {"VarConnectStateName", "Old", pick(1), Cp("Давление"), false},
        {"VarConnectStateName", "Old", pick(-1), "Old", false},
        {"RequestType", "custom", nothing, "custom", false}, // no entries: kept
        {"RS232Parity", "9", nothing, "0", false},           // not an entry: the first one
        {"RS232Parity", "3", nothing, "3", false},
        {"RS232StopBits", "0", choose(1), "1", false},
        {"TypeOfConnection", "TCP/IP", choose(1), "RS232", false},
        {"ICMPOnConnect", "\xE4\xE0", nothing, "False", false, "RS232"}, // "да" on the serial link
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.stored);
        if (c.link != nullptr) list_.FindProperty("TypeOfConnection")->Value = c.link;
        list_.FindProperty(c.name)->Value = c.stored;
        module::TSettingEditor editor(&list_, c.name);
        c.edit(editor);
        std::string message;
        std::optional<uitest::TModalAnswer> refusal;
        if (c.refused) {
            refusal.emplace([&](QWidget* box) {
                for (QLabel* label : box->findChildren<QLabel*>())
                    message += ui::FromQt(label->text());
                Press(box, "Да");
            });
        }
        editor.OkBitBtn.Click();
        EXPECT_EQ(editor.ModalResult(), c.refused ? ui::mrNone : ui::mrOk);
        EXPECT_EQ(message.empty(), !c.refused) << platform::Utf8FromCp1251(message);
        EXPECT_EQ(Value(c.name), c.expected);
    }
    ::unsetenv("OSTROLINKA_TAGDB");
    fs::remove(tagdb);
}

TEST_F(ValueEditorTest, KeyFilterOfIntegersRealsAndPickListsAppliesToTypingAndPasting) {
    struct FilterCase {
        const char* name;
        QString typed, pasted;
        std::string expected;
    };
    const FilterCase cases[] = {
        {"TimeOut", "1a2.-", "3x.4", "1234"},     {"TimeOut", QString("12") + QChar(8), "", "1"},
        {"Ratio", "1a.5", "2,.7", "1.52.7"},      {"RS232Port", QString("a1") + QChar(8), "COM7", ""},
        {"DeviceName", "a.-", "Б<", Cp("a.-Б<")},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        module::TSettingEditor editor(&list_, c.name);
        editor.SettingTextEdit.SetText("");
        auto* edit = static_cast<QLineEdit*>(uitest::WidgetOf(editor.SettingTextEdit));
        Type(edit, c.typed);
        edit->insert(c.pasted); // what a paste or a drop does
        EXPECT_EQ(editor.SettingTextEdit.Text(), c.expected);
    }
}

TEST_F(ValueEditorTest, ARefusedValueKeepsTheEditorOpenUntilCancel) {
    list_.FindProperty("DeviceName")->Value = "old";
    bool stillOpen = false;
    const auto answer = WhenModal([&](QWidget* editor) {
        editor->findChild<QLineEdit*>()->setText("a\"b");
        const auto refusal = WhenModal([&](QWidget* box) { Press(box, "Да"); });
        Press(editor, "Да");
        stillOpen = editor->isVisible() && QApplication::activeModalWidget() == editor;
        ASSERT_TRUE(editor->grab().save(QString::fromStdString(TestOutput("value_editor.png").string())));
        Press(editor, "Отмена");
    });
    EXPECT_FALSE(module::EditSettingValue(0, &list_, "DeviceName"));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(Value("DeviceName"), "old");
}

TEST_F(ValueEditorTest, OkForAPropertyThatIsNotThereAnswersFalse) {
    const auto answer = WhenModal([](QWidget* editor) { Press(editor, "Да"); });
    EXPECT_FALSE(module::EditSettingValue(0, &list_, "NoSuchProperty"));
}

// ---- Device setup window

TEST(DeviceSetupDialog, RowsShowCaptionAndValueAndCancelAfterEditsChangesNothing) {
    modbus::TModbus_Device device;
    framework::TDevicePropertyList& properties = *device.Properties;
    properties.FindProperty("RS232Parity")->Value = "2";
    {
        module::TDeviceSetupDialog dialog(device, &properties);
        ASSERT_EQ(dialog.SettingListBox.ItemCount(), properties.Count());
        EXPECT_EQ(dialog.SettingListBox.Item(RowOf(properties, "RS232Parity")),
                  Cp("Проверять четность при передаче по RS-232:") + "\x08" + "Even");
        EXPECT_EQ(dialog.SettingListBox.Item(RowOf(properties, "TimeOut")),
                  Cp("Время ожидания ответа:") + "\x08" + "100");
        EXPECT_EQ(dialog.SettingListBox.ItemIndex(), 0);
        std::string hint;
        properties.GetHint(properties.Property(0)->Name, hint);
        EXPECT_EQ(dialog.DescriptionLabel.Caption(), hint);
        dialog.Show();
        ASSERT_TRUE(dialog.SaveImage(TestOutput("device_setup.png").string()));
    }

    const int timeOutRow = RowOf(properties, "TimeOut");
    const int enabledRow = RowOf(properties, "Enabled");
    // Two rows edited, then Cancel or OK.
    auto editTwice = [&](const char* close) {
        return WhenModal([=](QWidget* dialog) {
            QListWidget* rows = ListOf(dialog, 0);
            const auto number = WhenModal([](QWidget* editor) {
                editor->findChild<QLineEdit*>()->setText("555");
                Press(editor, "Да");
            });
            DoubleClickRow(rows, timeOutRow);
            EXPECT_EQ(RowText(rows, timeOutRow), Cp("Время ожидания ответа:") + "\x08" + "555");
            const auto yesNo = WhenModal([](QWidget* editor) {
                auto* combo = editor->findChild<QComboBox*>();
                combo->setCurrentIndex(0);
                emit combo->activated(0);
                Press(editor, "Да");
            });
            DoubleClickRow(rows, enabledRow);
            EXPECT_EQ(RowText(rows, enabledRow), Cp("Устройство активно:") + "\x08" + "False");
            Press(dialog, close);
        });
    };
    std::vector<std::string> before;
    for (int32_t i = 0; i < properties.Count(); ++i)
        before.push_back(properties.Property(i)->Value);
    {
        const auto cancel = editTwice("Отмена");
        EXPECT_FALSE(module::EditDevice(0, device, &properties));
    }
    for (int32_t i = 0; i < properties.Count(); ++i)
        EXPECT_EQ(properties.Property(i)->Value, before[i]) << i;
    const auto ok = editTwice("Да");
    EXPECT_TRUE(module::EditDevice(0, device, &properties));
    EXPECT_EQ(properties.FindProperty("TimeOut")->Value, "555");
    EXPECT_EQ(properties.FindProperty("Enabled")->Value, "False");
}

// ---- Driver setup window

// The Modbus driver with the setup hooks counted and remote access switchable.
class TSetupDriver : public modbus::TModbusrtu_Driver {
public:
    void BeforeSetup() override { ++BeforeSetups; }
    void CancelSetup() override { ++CancelSetups; }
    bool SupportsRemoteAccess() override { return RemoteAccess; }
    // Whether another thread could take the master-list lock while a device was made.
    std::unique_ptr<framework::TDevice> CreateDevice() override {
        if (WatchLock) {
            const bool free = std::async(std::launch::async, [] {
                                  if (!module::MasterListLock.try_lock()) return false;
                                  module::MasterListLock.unlock();
                                  return true;
                              }).get();
            (free ? MadeUnlocked : MadeLocked) += 1;
        }
        return modbus::TModbusrtu_Driver::CreateDevice();
    }
    bool WatchLock = false;
    int MadeLocked = 0;
    int MadeUnlocked = 0;
    int BeforeSetups = 0;
    int CancelSetups = 0;
    bool RemoteAccess = false;
};

class DriverSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("driver-setup-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        saved_ = framework::Driver;
        framework::Driver = &driver_;
        savedPath_ = module::CfgPath;
        module::CfgPath.clear();
        savedError_ = framework::ErrorObj;
        framework::ErrorObj = nullptr;
        savedRap_ = framework::RAPEnabled;
        savedPort_ = framework::RAPPort;
    }
    void TearDown() override {
        framework::Driver = saved_;
        module::CfgPath = savedPath_;
        framework::ErrorObj = savedError_;
        framework::RAPEnabled = savedRap_;
        framework::RAPPort = savedPort_;
        ::chmod(dir_.c_str(), 0755);
        fs::remove_all(dir_);
    }
    void AddDevice(const std::string& name) {
        framework::TDevice* device = driver_.DeviceList->AddDevice()->Device.get();
        device->Properties->FindProperty("DeviceName")->Value = name;
        device->ApplyProperties();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int32_t i = 0; i < driver_.DeviceList->Count(); ++i)
            names.push_back(driver_.DeviceList->Device(i)->DeviceName);
        return names;
    }
    fs::path Config() const { return dir_ / "Quillary.cfg"; }

    fs::path dir_;
    TSetupDriver driver_;
    framework::TDriver* saved_ = nullptr;
    std::string savedPath_;
    framework::TDriverErrorClass* savedError_ = nullptr;
    bool savedRap_ = false;
    uint16_t savedPort_ = 0;
};

TEST_F(DriverSetupTest, CancelAfterAddEditAndDeleteLeavesListAndFileAsTheyWere) {
    AddDevice("Dev A");
    AddDevice("Dev B");
    ASSERT_TRUE(driver_.SaveConfig(Config().string()));
    const std::string bytes = ReadBytes(Config());
    driver_.DeviceList->FreeAll(); // the setup before initialisation reads the file first

    int shown = 0, afterAdd = 0, afterDelete = 0;
    std::string edited;
    const auto answer = WhenModal([&](QWidget* dialog) {
        QListWidget* devices = ListOf(dialog, 0);
        shown = devices->count();
        const auto added = WhenModal([](QWidget* device) { Press(device, "Да"); });
        Press(dialog, "Добавить");
        afterAdd = devices->count();
        const auto changed = WhenModal([](QWidget* device) {
            const auto renamed = WhenModal([](QWidget* editor) {
                editor->findChild<QLineEdit*>()->setText("Renamed");
                Press(editor, "Да");
            });
            DoubleClickRow(ListOf(device, 0), 0);
            Press(device, "Да");
        });
        devices->setCurrentRow(0);
        Press(dialog, "Изменить");
        edited = RowText(devices, 0);
        Press(dialog, "Удалить");
        afterDelete = devices->count();
        Press(dialog, "Отмена");
    });
    EXPECT_FALSE(module::SetupDriver(0, dir_.string()));
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(afterAdd, 3);
    EXPECT_EQ(edited, "Renamed");
    EXPECT_EQ(afterDelete, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Dev A", "Dev B"}));
    EXPECT_EQ(ReadBytes(Config()), bytes);
    EXPECT_EQ(driver_.BeforeSetups, 1);
    EXPECT_EQ(driver_.CancelSetups, 1);
}

TEST_F(DriverSetupTest, OkPutsTheListInUnderTheLockAndStoresRemoteAccessOnlyWhenSupported) {
    AddDevice("Dev");
    ASSERT_TRUE(driver_.SaveConfig(Config().string()));
    const std::string written = ReadBytes(Config());
    const std::string off = "RAPEnabled=\"False\" RAPPort=\"6042\"";
    ASSERT_NE(written.find(off), std::string::npos);
    std::string held = written; // a file that held remote access on port 7000
    held.replace(held.find(off), off.size(), "RAPEnabled=\"True\" RAPPort=\"7000\"");
    struct RemoteCase {
        bool supported;
        const char* attributes;
    };
    for (const RemoteCase& c : {RemoteCase{false, "RAPEnabled=\"False\" RAPPort=\"6042\""},
                                RemoteCase{true, "RAPEnabled=\"True\" RAPPort=\"7000\""}}) {
        SCOPED_TRACE(c.supported);
        driver_.RemoteAccess = c.supported;
        std::ofstream(Config(), std::ios::binary) << held;
        // Without remote access the file's values are not read: what the module held stands.
        framework::RAPEnabled = !c.supported;
        framework::RAPPort = c.supported ? 1 : 7000;
        driver_.MadeLocked = driver_.MadeUnlocked = 0;
        const auto answer = WhenModal([&](QWidget* dialog) {
            if (c.supported) {
                dialog->findChild<QTabWidget*>()->setCurrentIndex(1);
                ASSERT_TRUE(dialog->grab().save(
                    QString::fromStdString(TestOutput("driver_setup_additional.png").string())));
            }
            driver_.WatchLock = true;
            Press(dialog, "Да");
            driver_.WatchLock = false;
        });
        EXPECT_TRUE(module::SetupDriver(0, dir_.string()));
        EXPECT_EQ(driver_.MadeLocked, 1);
        EXPECT_EQ(driver_.MadeUnlocked, 0);
        EXPECT_EQ(Names(), std::vector<std::string>{"Dev"});
        const std::string saved = ReadBytes(Config());
        const std::string firstLine = saved.substr(0, saved.find("\r\n"));
        EXPECT_NE(firstLine.find(c.attributes), std::string::npos) << firstLine;
        EXPECT_NE(firstLine.find("GeneralCommandInterval=\"6000\""), std::string::npos) << firstLine;
    }
    EXPECT_EQ(driver_.CancelSetups, 0);
}

TEST_F(DriverSetupTest, DeletingTheLastDeviceLeavesNothingToEditOrShow) {
    AddDevice("Only");
    module::TDriverSetupDlg dialog(driver_);
    EXPECT_EQ(dialog.Caption(), driver_.GetSetupCaption());
    EXPECT_EQ(dialog.DevicesListBox.Item(0), "Only");
    EXPECT_EQ(dialog.SettingListBox.ItemCount(), driver_.DeviceList->Device(0)->Properties->Count());
    EXPECT_FALSE(dialog.RemoteAccessGroupBox.Visible());
    EXPECT_EQ(dialog.CommandIntervalSpinEdit.MaxValue(), 65535);
    EXPECT_EQ(dialog.CheckServerTimeSpinEdit.MaxValue(), 3600);
    dialog.Show();
    ASSERT_TRUE(dialog.SaveImage(TestOutput("driver_setup_general.png").string()));
    dialog.DelBitBtn.Click();
    EXPECT_EQ(dialog.DevicesListBox.ItemCount(), 0);
    EXPECT_EQ(dialog.DevicesListBox.ItemIndex(), -1);
    EXPECT_FALSE(dialog.EditBitBtn.Enabled());
    EXPECT_FALSE(dialog.DelBitBtn.Enabled());
    EXPECT_EQ(dialog.SettingListBox.ItemCount(), 0);
    EXPECT_EQ(driver_.DeviceList->Count(), 1) << "only OK changes the driver";
}

TEST_F(DriverSetupTest, AClickOnTheSelectedFirstPropertyShowsItsHint) {
    AddDevice("Only");
    module::TDriverSetupDlg dialog(driver_);
    dialog.Show();
    framework::TDevicePropertyList& properties = *driver_.DeviceList->Device(0)->Properties;
    std::string hint;
    ASSERT_TRUE(properties.GetHint(properties.Property(0)->Name, hint));
    ASSERT_NE(dialog.DescriptionLabel.Caption(), hint);
    MouseOnRow(ListOf(uitest::WidgetOf(dialog), 1), 0,
               {QEvent::MouseButtonPress, QEvent::MouseButtonRelease});
    EXPECT_EQ(dialog.DescriptionLabel.Caption(), hint);
}

TEST_F(DriverSetupTest, PicturesOfTheStyledButtonsInTheirStates) {
    AddDevice("Only");
    module::TDriverSetupDlg dialog(driver_);
    dialog.Show();
    EXPECT_TRUE(sbtest::FourDistinctPictures(sbtest::SaveButtonStates(
        dialog,
        {&dialog.OkBitBtn, &dialog.sBitBtn1, &dialog.AddBitBtn, &dialog.EditBitBtn, &dialog.DelBitBtn},
        "driver_setup_buttons")));
}

TEST_F(DriverSetupTest, AnswersFalseOnAThreadWithoutTheApplication) {
    ASSERT_TRUE(module::UseApplication()); // the application lives on this thread
    bool answer = true;
    std::thread([&] { answer = module::SetupDriver(0, dir_.string()); }).join();
    EXPECT_FALSE(answer);
    EXPECT_EQ(driver_.BeforeSetups, 0);
}

TEST_F(DriverSetupTest, AFailedSaveIsLoggedWithCode1AndTheBoxSaysWhy) {
    const fs::path log = dir_ / "module.log";
    module::TModuleErrorClass errors(log.string());
    framework::ErrorObj = &errors;
    // The box after the setup window is read, confirmed, and pictured under the name given for it.
    std::string box, picture = "driver_setup_failed_save.png";
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !box.empty() || modal->windowTitle() != QString::fromUtf8("Внимание")) return;
        for (QLabel* label : modal->findChildren<QLabel*>())
            box += ui::FromQt(label->text());
        if (!picture.empty()) modal->grab().save(QString::fromStdString(TestOutput(picture).string()));
        picture.clear();
        Press(modal, "Да");
    });
    // The suite runs as root, whom a read-only folder does not stop: what stands at the name does, and
    // a file size limit of 100 bytes stands for a full disk (the log line goes, the file does not).
    const struct {
        const char* what;
        fs::path path;
        const char* reason;
        rlim_t limit = RLIM_INFINITY;
    } cases[] = {
        {"a folder at the file's name", dir_ / "folder" / "Quillary.cfg", "не прочитан: это не обычный файл"},
        {"a link to itself", dir_ / "loop" / "Quillary.cfg", "ошибка 40"},
        {"a folder that is not there", dir_ / "gone" / "Quillary.cfg", "не записан: ошибка 2."},
        {"a full disk", Config(), "не записан: ошибка 27.", 100},
    };
    fs::create_directories(cases[0].path);
    fs::create_directories(cases[1].path.parent_path());
    fs::create_symlink(cases[1].path, cases[1].path);
    ::signal(SIGXFSZ, SIG_IGN);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(log);
        box.clear();
        module::CfgPath = c.path.string(); // as after the initialisation
        const auto answer = WhenModal([](QWidget* dialog) { Press(dialog, "Да"); });
        boxes.start(1);
        const rlimit limit{c.limit, RLIM_INFINITY}, none{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_FALSE(module::SetupDriver(0, dir_.string()));
        ::setrlimit(RLIMIT_FSIZE, &none);
        // The log line says what the box says; the full disk's limit cuts it as it cuts any file.
        EXPECT_EQ(ReadBytes(log), (box + ": 1\r\n").substr(0, c.limit)) << platform::Utf8FromCp1251(box);
        EXPECT_EQ(box.find(Cp("Ошибка записи файла конфигурации. Файл \"" + c.path.string() + "\" ")), 0u);
        EXPECT_NE(box.find(Cp(c.reason)), std::string::npos) << platform::Utf8FromCp1251(box);
    }
    EXPECT_FALSE(fs::exists(Config())) << "the module's configuration path, not its directory";

    // Before the initialisation too, the settings of a failed save stay: OK again writes them.
    framework::ErrorObj = nullptr;
    module::CfgPath.clear();
    AddDevice("Dev A");
    ASSERT_TRUE(driver_.SaveConfig(Config().string()));
    for (const rlim_t bytes : {rlim_t(100), RLIM_INFINITY}) {
        box.clear();
        int shown = -1;
        const auto answer = WhenModal([&](QWidget* dialog) {
            shown = ListOf(dialog, 0)->count();
            if (shown > 0) Press(dialog, "Удалить");
            Press(dialog, "Да");
        });
        const rlimit limit{bytes, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_EQ(module::SetupDriver(0, dir_.string()), bytes == RLIM_INFINITY);
        EXPECT_EQ(shown, bytes == RLIM_INFINITY ? 0 : 1);
    }
    EXPECT_EQ(ReadBytes(Config()).find("Dev A"), std::string::npos);

    // A failed save, then the initialisation's load: OK with nothing changed keeps and says nothing.
    AddDevice("Dev B");
    ASSERT_TRUE(driver_.SaveConfig(Config().string()));
    fs::remove(Config().string() + ".bak"); // the retry above kept the file it did not read
    module::UnsavedSetup = true;            // as the failed save above left it
    module::LoadConfiguration(driver_, Config().string());
    box.clear();
    const auto again = WhenModal([](QWidget* dialog) { Press(dialog, "Да"); });
    EXPECT_TRUE(module::SetupDriver(0, dir_.string()));
    EXPECT_EQ(platform::Utf8FromCp1251(box), "");
    EXPECT_FALSE(fs::exists(Config().string() + ".bak"));
    ::signal(SIGXFSZ, SIG_DFL);

    // A list whose text would pass the read bound is not written: the box says why, the file stays.
    framework::ErrorObj = &errors;
    module::CfgPath = Config().string();
    const std::string before = ReadBytes(Config());
    driver_.DeviceList->Device(0)->Properties->FindProperty("DeviceName")->Value =
        std::string(platform::kMaxFileSize, 'x');
    box.clear();
    picture = "driver_setup_save_past_read_bound.png";
    const auto answer = WhenModal([](QWidget* dialog) { Press(dialog, "Да"); });
    EXPECT_FALSE(module::SetupDriver(0, dir_.string()));
    EXPECT_NE(box.find(Cp("его текст больше 67108864 байт, а такой файл не читается.")), std::string::npos)
        << platform::Utf8FromCp1251(box);
    EXPECT_EQ(ReadBytes(Config()), before);
    framework::TDeviceList back;
    EXPECT_TRUE(back.LoadFromFile(Config().string()));
}

} // namespace
