// The module's windows as a host that loaded Quillary.dlm calls them: the entry points bind by name,
// the state window needs a full initialisation, and a released driver or a thread without the
// application shows nothing. The driver setup (DLMSetupDeviceDrv) names a configuration that is
// there but could not be read to the user before its window opens, and keeps its bytes as
// Quillary.cfg.bak (or the next free name) first. The test host runs a Qt application of its own, as a
// Qt host does; the module's modal windows are answered from inside their loops.
#include "dlm_test_support.h"
#include "platform/child_process_support.h"
#include "platform/files.h"
#include "platform/shared_memory.h"
#include "styledbuttons/button_clicks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>

namespace dlmtest {
namespace {

// Every entry point that the host binds by name, by ordinal.
const char* const kExports[] = {
    "DLMRemoveDriver", "DLMInstallDriver", "DLMGetErrorStr",   "DLMShowLogList",   "DLMAbout",
    "DLMShowState",    "DLMSinhronize",    "DLMReadDataDrv",   "DLMWriteDataDrv",  "DLMStopDeviceDrv",
    "DLMRunDeviceDrv", "DLMDoneDeviceDrv", "DLMInitDeviceDrv", "DLMGetDeviceInfo", "DLMSetupDeviceDrv",
};

using FWindow = void (*)(uint32_t);
using FShowState = int32_t (*)(uint32_t);
using FSetup = bool (*)(uint32_t);

// The setup's windows answered from inside their loops: a message box that comes first is read (and
// pictured when asked) and confirmed, then the setup window's devices are counted and it is answered
// with `answer`; a box after it is read into After and confirmed. Past the deadline the window is
// closed, so that the test fails rather than hangs.
struct TSetupAnswers {
    TSetupAnswers(const char* answer, const char* picture) {
        const uint64_t deadline = platform::MonotonicMs() + 15000;
        QObject::connect(&timer, &QTimer::timeout, [=, this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) return;
            if (platform::MonotonicMs() > deadline) {
                modal->close();
                return;
            }
            const bool box = modal->windowTitle() == QString::fromUtf8("Внимание");
            if (Devices >= 0) {
                if (box && After.empty() && AfterPicture != nullptr) Picture(modal, AfterPicture);
                if (box && After.empty()) After = Confirmed(modal);
            } else if (!box) {
                Devices = modal->findChildren<QListWidget*>().value(0)->count();
                if (WhileOpen) WhileOpen();
                Click(modal, answer);
            } else if (Box.empty()) {
                if (picture != nullptr) Picture(modal, picture);
                Box = Confirmed(modal);
            }
        });
        timer.start(1);
    }
    static void Picture(QWidget* window, const char* name) {
        const fs::path outputs = fs::path(std::getenv("QUILLARY_BIN")).parent_path() / "test-output";
        fs::create_directories(outputs);
        EXPECT_TRUE(window->grab().save(QString::fromStdString((outputs / name).string()), "PNG"));
    }
    // The box's text, UTF-8, once its "Да" is clicked.
    static std::string Confirmed(QWidget* box) {
        std::string text;
        for (QLabel* label : box->findChildren<QLabel*>())
            text += label->text().toStdString();
        Click(box, "Да");
        return text;
    }
    // Queued: the window the click closes ends its loop outside this step.
    static void Click(QWidget* window, const char* caption) {
        QWidget* button = sbtest::ButtonNamed(window, QString::fromUtf8(caption));
        QTimer::singleShot(0, button, [button] { sbtest::ClickButton(button); });
    }
    std::string Box;   // the message box's text, UTF-8; empty when none was shown
    std::string After; // the text of a box after the setup window
    const char* AfterPicture = nullptr;
    int Devices = -1;                // the setup window's devices; -1 when it did not open
    std::function<void()> WhileOpen; // what happens while the setup window is open
    QTimer timer;
};

// Memory that runs out, as a child process meets it: once armed, the n-th allocation of kLarge
// bytes or more fails.
constexpr std::size_t kLarge = 16 * 1024;
std::atomic<long> FailLargeAt{0}; // 0: not armed
std::atomic<long> LargeSeen{0};

struct TShortOfMemory {
    int32_t Answer = -1;
    int32_t Fired = 0;    // the n-th large allocation came and failed
    int32_t Devices = -1; // the setup window's devices; -1 when it did not open
    char Box[1024] = {};  // the box before the setup window, UTF-8
    char After[1024] = {};
};

// Loads the module of the folder it is sent and answers its setup's OK with the n-th large allocation
// failing; it ends normally whatever the module did, so an abort is seen as one.
int RunSetupShortOfMemory() {
    char dir[1024] = {};
    int32_t n = 0;
    if (!testchild::Read(testchild::ChildIn, dir) || !testchild::Read(testchild::ChildIn, n)) return 2;
    static int argc = 1;
    static char name[] = "module_dlm_tests";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    void* handle = ::dlopen((fs::path(dir) / "Quillary.dlm").c_str(), RTLD_NOW | RTLD_LOCAL);
    auto setup = handle ? reinterpret_cast<FSetup>(::dlsym(handle, "DLMSetupDeviceDrv")) : nullptr;
    if (setup == nullptr) return 3;
    TShortOfMemory out;
    {
        // Each box under its own name: the one before the setup window, and the one after it.
        const std::string picture = "dlm_setup_short_of_memory_" + std::to_string(n) + ".png",
                          after = "dlm_setup_short_of_memory_" + std::to_string(n) + "_after.png";
        TSetupAnswers watch("Да", picture.c_str());
        watch.AfterPicture = after.c_str();
        LargeSeen = 0;
        FailLargeAt = n;
        out.Answer = setup(0) ? 1 : 0;
        FailLargeAt = 0;
        out.Fired = LargeSeen >= n;
        out.Devices = watch.Devices;
        watch.Box.copy(out.Box, sizeof out.Box - 1);
        watch.After.copy(out.After, sizeof out.After - 1);
    }
    // The window table the module made goes with the last process that holds it.
    platform::ExitReleasingNames(testchild::Write(testchild::ChildOut, out) ? 0 : 2);
}

const bool registered = testchild::RegisterTestChild("setup-short-of-memory", RunSetupShortOfMemory);

class DlmWindows : public DlmTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DlmTest::SetUp());
        if (QApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "module_dlm_tests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
        // The windows' pictures lie beside the module, as installed.
        for (const char* picture :
             {"QuillaryQuestion.bmp", "QuillaryError.bmp", "QuillaryInformation.bmp", "QuillarySetup.jpg"})
            fs::copy_file(fs::path(bin_) / picture, dir_ / picture, fs::copy_options::overwrite_existing);
        WriteConfig(
            ConfigText({"DeviceName=\"Pump\" DeviceAddress=\"1\" RoutingPrefix=\"A\""}, 60, 6000, false));
        ASSERT_NO_FATAL_FAILURE(Load());
        ASSERT_TRUE(module.Bind(ShowLogList, "DLMShowLogList") && module.Bind(About, "DLMAbout") &&
                    module.Bind(ShowState, "DLMShowState") && module.Bind(Setup, "DLMSetupDeviceDrv"));
    }

    // Calls the entry point; a modal window it shows is closed from inside its loop, its caption noted
    // (UTF-8).
    template <class F> auto Shown(F call, std::string& caption) {
        caption.clear();
        QTimer closer;
        closer.setInterval(1);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                caption = modal->windowTitle().toStdString();
                modal->close();
            }
        });
        closer.start();
        return call();
    }

    std::string PrefixList() {
        TIdentity identity;
        EXPECT_EQ(module.GetDeviceInfo(&identity), 0);
        return identity.PrefixList;
    }

    FWindow ShowLogList = nullptr;
    FWindow About = nullptr;
    FShowState ShowState = nullptr;
    FSetup Setup = nullptr;
};

TEST_F(DlmWindows, EntryPointsBindAndTheStateWindowWantsAFullInitialisation) {
    for (const char* name : kExports)
        EXPECT_NE(::dlsym(module.Handle, name), nullptr) << name;
    EXPECT_EQ(ShowState(0), -5);
    ASSERT_EQ(module.Init(Record(true)), 0);
    EXPECT_EQ(ShowState(0), -5) << "a configuration-only initialisation is not a full one";
}

TEST_F(DlmWindows, WindowsShowWhileTheDriverLivesOnTheApplicationsThreadOnly) {
    ASSERT_EQ(module.Init(Record()), 0);
    std::string caption;
    Shown([&] { About(0); }, caption);
    EXPECT_EQ(caption, "О драйвере...");
    Shown([&] { ShowLogList(0); }, caption);
    EXPECT_EQ(caption, "Журнал работы драйвера...");
    EXPECT_EQ(Shown([&] { return ShowState(0); }, caption), 0);
    EXPECT_EQ(caption, "Информация о работе драйвера...");

    // The application lives on this thread: another one gets no window, and is told so.
    int32_t elsewhere = 0;
    std::thread([&] {
        elsewhere = ShowState(0);
        About(0);
        ShowLogList(0);
    }).join();
    EXPECT_EQ(elsewhere, -7);

    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    // The driver is released: nothing is shown any more.
    Shown([&] { About(0); }, caption);
    EXPECT_EQ(caption, "");
    Shown([&] { ShowLogList(0); }, caption);
    EXPECT_EQ(caption, "");
    EXPECT_EQ(ShowState(0), -5);
    module.Handle = nullptr;
}

TEST_F(DlmWindows, AConfigurationThatWasNotReadIsNamedToTheUserAndKeptBeforeASave) {
    const std::string good = ConfigText({"DeviceName=\"Pump\" DeviceAddress=\"1\" RoutingPrefix=\"A\"",
                                         "DeviceName=\"Fan\" DeviceAddress=\"2\" RoutingPrefix=\"B\""});
    const auto beforeEnd = [&](const std::string& tail) {
        std::string text = good;
        return text.insert(text.rfind("</KESTRAN>"), tail);
    };
    std::string nested;
    for (int i = 0; i <= 1000; ++i)
        nested += "<device>";
    for (int i = 0; i <= 1000; ++i)
        nested += "</device>";
    std::string noise(762, '\0');
    std::mt19937 bytes(20);
    for (char& c : noise)
        c = static_cast<char>(bytes());
    noise[0] = 'Z';
    const std::string truncated = good.substr(0, good.size() / 2);
    const std::string comment = beforeEnd("<!-- note\r\n"), foreign = beforeEnd("   <note/>\r\n"),
                      deep = beforeEnd(nested), declaration = beforeEnd("<?xml version=\"1.0\"?>\r\n");
    // What stopped the reading and its offset in the file.
    const auto at = [](const std::string& text, const std::string& what) {
        return ", смещение " + std::to_string(text.find(what));
    };
    const std::string unclosed = "элемент не закрыт или вложен глубже 1000 уровней";
    // A device the user switched off, written by hand with one slip: it must not load as an enabled
    // device with every other setting at its default.
    const auto pumpA = [&](const std::string& inside) {
        return beforeEnd("   <device>\r\n      " + inside + "\r\n   </device>\r\n");
    };
    const std::string session = "<session DeviceName=\"Pump A\" DeviceAddress=\"7\" IPPort=\"4999\" "
                                "Enabled=\"FALSE\" />",
                      loose = pumpA("note\r\n      " + session),
                      looseAfter = pumpA(session + " switched off"),
                      cdata = pumpA("<![CDATA[ x ]]>\r\n      " + session),
                      commentedOut = pumpA("<!-- " + session + " -->"),
                      onDevice =
                          beforeEnd("   <device Enabled=\"FALSE\">\r\n      <session />\r\n   </device>\r\n"),
                      unquoted = pumpA("<session DeviceName=PumpA DeviceAddress=\"7\" Enabled=\"FALSE\" />"),
                      strayQuote = pumpA("<session DeviceName=\"Pump A DeviceAddress=\"7\" IPPort=\"4999\" "
                                         "Enabled=\"FALSE\" />");
    const std::string partly = "элемент device не читается целиком: ",
                      unparsed = partly + "элемент session не разбирается";
    // At the backup's name a folder is passed over, a link replaced (never written through); a file past
    // the read bound cannot be kept by anybody.
    enum TBeside { kNothing, kFolderAtBak, kLinkElsewhere, kLinkToConfig, kLinkToNothing, kPastBound };
    const std::string cut = unclosed + at(truncated, "<");
    const struct {
        const char* what;
        std::string text;
        std::string reason;
        int shown; // devices the setup window shows
        const char* answer;
        bool canKeep;
        TBeside beside = kNothing;
        const char* keptAs = ".bak";
        fs::perms mode = fs::perms(0644);
        const char* changed = nullptr; // written into the file while the setup window is open
        uid_t owner = 0;               // and group, given by root, who alone may give a file away
    } cases[] = {
        {"a comment never closed", comment, "комментарий не закрыт" + at(comment, "<!--"), 0, "Да", true},
        {"a declaration after the root's start", declaration,
         "разметка XML, которая здесь не читается" + at(declaration, "<?"), 0, "Да", true},
        {"a foreign element after two devices", foreign,
         "элемент note не является устройством" + at(foreign, "<note"), 2, "Да", true},
        {"a device nested past the reader's limit", deep, unclosed + at(deep, "<device><device>"), 0, "Да",
         true},
        {"a truncated file", truncated, unclosed + at(truncated, "<"), 0, "Да", true},
        {"random bytes", noise, "ожидался элемент, смещение 0", 0, "Да", true},
        {"loose text before a session", loose, partly + "ожидался элемент" + at(loose, "note"), 0, "Да",
         true},
        {"loose text after a session", looseAfter, partly + "ожидался элемент" + at(looseAfter, "switched"),
         0, "Да", true},
        {"CDATA before a session", cdata,
         partly + "разметка XML, которая здесь не читается" + at(cdata, "<![CDATA["), 0, "Да", true},
        {"an unquoted value", unquoted, unparsed + at(unquoted, "<session DeviceName=PumpA"), 0, "Да", true},
        {"a commented-out session", commentedOut,
         partly + "элемент session не найден" + at(commentedOut, "<!-- <s"), 0, "Да", true},
        {"settings on the device element", onDevice,
         "атрибуты элемента device не читаются" + at(onDevice, "<device E"), 0, "Да", true},
        {"a stray quote", strayQuote, unparsed + at(strayQuote, "<session DeviceName=\"Pump A D"), 0, "Да",
         true},
        {"cancelled", truncated, unclosed + at(truncated, "<"), 0, "Отмена", true},
        {"a folder at the backup's name", truncated, cut, 0, "Да", true, kFolderAtBak, ".bak1"},
        {"a link at the backup's name to a file elsewhere", truncated, cut, 0, "Да", true, kLinkElsewhere},
        {"a link at the backup's name to the configuration", truncated, cut, 0, "Да", true, kLinkToConfig},
        {"a link at the backup's name to nothing", truncated, cut, 0, "Да", true, kLinkToNothing},
        {"a file past the read bound", truncated, "он больше 67108864 байт", 0, "Да", false, kPastBound},
        {"a file only its owner reads", truncated, cut, 0, "Да", true, kNothing, ".bak", fs::perms(0600)},
        {"a file of another owner", truncated, cut, 0, "Да", true, kNothing, ".bak", fs::perms(0640), nullptr,
         1000},
        {"a file changed while the window is open", truncated, cut, 0, "Да", true, kNothing, ".bak",
         fs::perms(0644), "<changed/>"},
    };
    const fs::path cfg = dir_ / "Quillary.cfg";
    const fs::path bak = dir_ / "Quillary.cfg.bak";
    const fs::path elsewhere = dir_ / "elsewhere";
    // What a save killed halfway leaves, by a writer gone a while ago: the next save takes it away.
    const fs::path leftover = dir_ / ("Quillary.cfg." + std::to_string(testchild::FreedPid()) + "-1.tmp");
    WriteText(elsewhere, "someone else's bytes");
    for (const bool initialised : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(initialised ? "after initialisation: " : "before initialisation: ") +
                         c.what);
            // Only root gives a file away: anyone else's files stay the runner's. The row is said
            // skipped in words ctest does not take for the whole test skipped.
            const bool root = ::geteuid() == 0;
            if (!root && c.owner != 0) {
                std::printf("row not run: %s: not root, no file of another owner\n", c.what);
                continue;
            }
            const uid_t owner = root ? c.owner : ::geteuid();
            const gid_t group = root ? c.owner : ::getegid();
            WriteText(cfg, c.text);
            fs::permissions(cfg, c.mode);
            ASSERT_EQ(root ? ::chown(cfg.c_str(), owner, group) : 0, 0);
            for (const char* name : {".bak", ".bak1"})
                fs::remove_all(cfg.string() + name);
            if (c.beside == kFolderAtBak) fs::create_directories(bak / "inside");
            if (c.beside == kLinkElsewhere) fs::create_symlink(elsewhere, bak);
            if (c.beside == kLinkToConfig) fs::create_symlink(cfg, bak);
            if (c.beside == kLinkToNothing) fs::create_symlink(dir_ / "nowhere", bak);
            if (c.beside == kPastBound) fs::resize_file(cfg, platform::kMaxFileSize + 1);
            const std::string old = ReadText(cfg);
            WriteText(leftover, "half a save");
            fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::minutes(11));
            if (initialised) {
                ASSERT_EQ(module.Init(Record(true)), 0);
                EXPECT_TRUE(LogHas("Конфигурационный файл " + cfg.string() + " не прочитан: " + c.reason))
                    << Log();
                // Only a foreign element after whole devices leaves them to the module.
                EXPECT_EQ(PrefixList(), c.shown > 0 ? "A::B:" : "");
            }
            const fs::path kept = c.canKeep ? fs::path(cfg.string() + c.keptAs) : fs::path();
            const char* picture = initialised       ? nullptr
                                  : c.shown > 0     ? "dlm_setup_unread_configuration.png"
                                  : kept.empty()    ? "dlm_setup_unkept_configuration.png"
                                  : c.text == loose ? "dlm_setup_device_not_whole.png"
                                                    : nullptr;
            TSetupAnswers watch(c.answer, picture);
            if (c.changed) watch.WhileOpen = [&] { WriteText(cfg, c.changed); };
            const bool saved = Setup(0);

            EXPECT_NE(watch.Box.find(cfg.string() + " не прочитан: "), std::string::npos) << watch.Box;
            EXPECT_NE(watch.Box.find(c.reason), std::string::npos) << watch.Box;
            EXPECT_NE(watch.Box.find(kept.empty() ? "Сохранить его рядом нельзя" : kept.string() + "."),
                      std::string::npos)
                << watch.Box;
            EXPECT_EQ(watch.Devices, kept.empty() ? -1 : c.shown);
            const bool save = std::string(c.answer) == "Да" && !kept.empty();
            EXPECT_EQ(saved, save);
            if (!kept.empty()) {
                EXPECT_EQ(ReadText(kept), old);
                EXPECT_EQ(fs::symlink_status(kept).permissions(), c.mode);
                for (const fs::path& file : {kept, cfg}) {
                    struct stat st {};
                    EXPECT_TRUE(::lstat(file.c_str(), &st) == 0 && st.st_uid == owner && st.st_gid == group)
                        << file;
                }
                // The save keeps what the file holds then: bytes changed meanwhile go to the next name.
                const fs::path last = c.changed ? fs::path(cfg.string() + ".bak1") : kept;
                EXPECT_EQ(ReadText(last), c.changed ? c.changed : old);
                EXPECT_EQ(LogHas("Прежний конфигурационный файл сохранен как " + last.string() + "."),
                          initialised);
            } else {
                EXPECT_FALSE(fs::exists(bak));
            }
            if (save) {
                EXPECT_EQ(ReadText(cfg).find("DeviceName=\"Fan\"") != std::string::npos, c.shown > 0);
            } else {
                EXPECT_EQ(ReadText(cfg), old);
            }
            EXPECT_EQ(ReadText(elsewhere), "someone else's bytes");
            EXPECT_EQ(fs::exists(leftover), !save);
        }
    }
    // A configuration that reads opens the setup without a word, the declaration and comments that
    // XML allows included, a device the user commented out too. The save keeps what it does not write
    // back, and so does a save over bytes another program wrote meanwhile; a file the system wrote
    // itself is replaced with nothing kept.
    std::string commented = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<!-- a -->\r\n" +
                            beforeEnd("<!-- <device><session DeviceName=\"Old\"/></device> -->\r\n") +
                            "<!-- c -->\r\n";
    // Markup in a device's comment is none of its tags, and a tag may go on over lines.
    commented.insert(commented.find("   </device>"), "      <!-- copied from the <device> of site B -->\r\n");
    commented.replace(commented.find(" DeviceName=\"Fan\""), 1, "\r\n         ");
    WriteText(cfg, commented);
    for (const char* name : {".bak", ".bak1", ".bak2"})
        fs::remove_all(cfg.string() + name);
    ASSERT_EQ(module.Init(Record(true)), 0);
    const struct {
        const char* what;
        const char* keptAs; // nullptr: nothing kept
        const char* changed = nullptr;
    } saves[] = {
        {"comments", ".bak"}, {"the system's own file", nullptr}, {"changed meanwhile", ".bak1", "<x/>"}};
    for (const auto& c : saves) {
        SCOPED_TRACE(c.what);
        const std::string before = ReadText(cfg);
        TSetupAnswers watch("Да", nullptr);
        if (c.changed) watch.WhileOpen = [&] { WriteText(cfg, c.changed); };
        if (&c == &saves[0]) watch.AfterPicture = "dlm_setup_kept_at_save.png";
        EXPECT_TRUE(Setup(0));
        EXPECT_EQ(watch.Box, "");
        EXPECT_EQ(watch.Devices, 2);
        EXPECT_NE(ReadText(cfg).find("DeviceName=\"Fan\""), std::string::npos);
        EXPECT_EQ(watch.After.empty(), c.keptAs == nullptr) << watch.After;
        if (c.keptAs == nullptr) continue;
        const std::string kept = cfg.string() + c.keptAs;
        EXPECT_NE(watch.After.find(kept + "."), std::string::npos) << watch.After;
        EXPECT_EQ(ReadText(kept), c.changed ? c.changed : before);
    }
    EXPECT_FALSE(fs::exists(cfg.string() + ".bak2"));
    EXPECT_EQ(ReadText(cfg.string() + ".bak"), commented);
}

TEST_F(DlmWindows, AValueInSingleQuotesIsSavedSoThatItLoadsBackAndDefaultsAreLogged) {
    // Hand-written: a name holding double quotes, and three slips that leave settings at defaults.
    WriteConfig(ConfigText({"DeviceName='Pump \"A\"' DeviceAddress=\"7\" RoutingPrefix=\"A\"",
                            "DeviceName=\"Fan\" Enable=\"FALSE\" DeviceAdress=\"8\" Enabled=\"FLASE\" "
                            "RoutingPrefix=\"B\""}));
    const fs::path cfg = dir_ / "Quillary.cfg";
    ASSERT_EQ(module.Init(Record(true)), 0);
    EXPECT_EQ(PrefixList(), "A::B:");
    const std::string file = "Конфигурационный файл " + cfg.string() + ": устройство №2 «Fan»: ";
    for (const std::string note : {"атрибут Enable=\"FALSE\" ничего не задает и пропущен.",
                                   "атрибут DeviceAdress=\"8\" ничего не задает и пропущен.",
                                   "значение Enabled=\"FLASE\" не читается, взято False."})
        EXPECT_TRUE(LogHas(file + note)) << Log();
    std::string first;
    for (int save = 0; save < 2; ++save) {
        SCOPED_TRACE(save);
        TSetupAnswers watch("Да", nullptr);
        std::string shown;
        watch.WhileOpen = [&] {
            QWidget* setup = QApplication::activeModalWidget();
            shown = setup->findChildren<QListWidget*>().value(0)->item(0)->text().toStdString();
            if (save == 1) TSetupAnswers::Picture(setup, "dlm_setup_name_in_double_quotes.png");
        };
        EXPECT_TRUE(Setup(0));
        EXPECT_EQ(shown, "Pump \"A\"");
        // The hand-written file is kept at the first save; the second writes the same bytes.
        EXPECT_EQ(watch.After.empty(), save == 1) << watch.After;
        if (save == 0) first = ReadText(cfg);
        EXPECT_EQ(ReadText(cfg), first);
    }
    EXPECT_NE(first.find(" DeviceName='Pump \"A\"' "), std::string::npos) << first;
    ASSERT_EQ(module.Init(Record(true)), 0);
    EXPECT_FALSE(LogHas("не прочитан")) << Log();
    EXPECT_EQ(PrefixList(), "A::B:");
}

// Wherever a large allocation of a setup's OK fails, before the initialisation: the setup answers
// False, the file keeps its bytes, the host lives, and the user hears that memory ran out. When it
// is the load's, nothing is offered that would replace the file.
TEST_F(DlmWindows, MemoryThatRunsOutAnywhereInTheSetupLeavesTheFileAndTheHost) {
    ASSERT_FALSE(registered);
    std::vector<std::string> sessions;
    for (int i = 1; i <= 2100; ++i)
        sessions.push_back("DeviceName=\"Pump " + std::to_string(i) + "\" DeviceAddress=\"" +
                           std::to_string(i % 247 + 1) + "\" RoutingPrefix=\"P" + std::to_string(i) + "\"");
    const std::string text = ConfigText(sessions);
    const fs::path cfg = dir_ / "Quillary.cfg";
    int loads = 0, points = 0;
    for (int32_t n = 1; n < 100; ++n) {
        SCOPED_TRACE("large allocation " + std::to_string(n));
        WriteText(cfg, text);
        fs::remove(cfg.string() + ".bak");
        testchild::TestChild child("setup-short-of-memory");
        ASSERT_TRUE(child.Started());
        char dir[1024] = {};
        dir_.string().copy(dir, sizeof dir - 1);
        ASSERT_TRUE(child.Send(dir) && child.Send(n));
        TShortOfMemory out;
        const bool answered = child.Receive(out);
        ASSERT_TRUE(child.WaitExited(testchild::DeadlineMs));
        ASSERT_EQ(child.Reap(), 0) << "the host process ended";
        ASSERT_TRUE(answered);
        if (!out.Fired) {
            EXPECT_EQ(out.Answer, 1) << "with memory enough the OK saves";
            break;
        }
        ++points;
        const std::string said = std::string(out.Box) + "|" + out.After;
        EXPECT_EQ(out.Answer, 0);
        EXPECT_TRUE(ReadText(cfg) == text) << "the file was written";
        EXPECT_NE(said.find("не хватает памяти"), std::string::npos) << said;
        if (std::string(out.Box).find(
                " не прочитан: не хватает памяти. Настройка не открыта, файл не изменен.") !=
            std::string::npos) {
            ++loads;
            EXPECT_EQ(out.Devices, -1);
            EXPECT_FALSE(fs::exists(cfg.string() + ".bak"));
        }
    }
    EXPECT_GE(loads, 1);
    EXPECT_GE(points, 15);
}

// Settings a failed save kept stand only while the file is the one they came from: mended by hand
// since, it is read again, and the box says why they went and quotes nothing the file lost.
TEST_F(DlmWindows, TheSettingsOfAFailedSaveGoWhenTheFileChangesSince) {
    const fs::path cfg = dir_ / "Quillary.cfg";
    const std::string mended = ConfigText({"DeviceName=\"Pump\" DeviceAddress=\"1\" RoutingPrefix=\"A\"",
                                           "DeviceName=\"Fan\" DeviceAddress=\"2\" RoutingPrefix=\"B\""});
    std::string unread = ConfigText({"DeviceName=\"Old\" DeviceAddress=\"3\" RoutingPrefix=\"C\""});
    unread.insert(unread.find("<device>"), "pump 1, checked 2024\r\n   ");
    ::signal(SIGXFSZ, SIG_IGN);
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "a file that was read" : "a file that was not read");
        WriteConfig(readable ? ConfigText({"DeviceName=\"Old\" DeviceAddress=\"3\" RoutingPrefix=\"C\""})
                             : unread);
        {
            // A full disk while the window is open: the save fails, its settings are kept.
            TSetupAnswers failing("Да", nullptr);
            failing.WhileOpen = [] {
                const rlimit limit{100, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            };
            EXPECT_FALSE(Setup(0));
            const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &none);
            EXPECT_NE(failing.After.find("Ошибка записи файла конфигурации."), std::string::npos)
                << failing.After;
        }
        WriteConfig(mended);
        TSetupAnswers again("Да", readable ? nullptr : "dlm_setup_failed_save_dropped.png");
        EXPECT_TRUE(Setup(0));
        EXPECT_EQ(
            again.Box.find("Настройки, которые не удалось сохранить, отброшены: конфигурационный файл " +
                           cfg.string() + " с тех пор изменен."),
            0u)
            << again.Box;
        EXPECT_EQ(again.Box.find("pump 1"), std::string::npos) << again.Box;
        EXPECT_EQ(again.Devices, 2);
        EXPECT_NE(ReadText(cfg).find("\"Fan\""), std::string::npos);
    }
    ::signal(SIGXFSZ, SIG_DFL);
}

} // namespace
} // namespace dlmtest

// The allocations of the child above, counted; every other form of new and delete stays paired with
// these, so that a sanitizer sees malloc and free on both sides.
namespace {
void* Allocate(std::size_t size) {
    if (size >= dlmtest::kLarge && dlmtest::FailLargeAt.load() > 0 &&
        dlmtest::LargeSeen.fetch_add(1) + 1 == dlmtest::FailLargeAt.load())
        throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t n) {
    return Allocate(n);
}
void* operator new[](std::size_t n) {
    return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
