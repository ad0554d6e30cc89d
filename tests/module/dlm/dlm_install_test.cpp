// Installing the driver's files from a distribution folder into a driver folder and removing them, as a
// host that loaded Quillary.dlm does it. The log window shows only when something went wrong; the test
// host then reads it as a user would (its caption, its message, the log saved through its own button)
// and closes it, from its own window's procedure, which the module's modal loop keeps pumping.
#include "dlm_test_support.h"
#include "platform/names.h"
#include "styledbuttons/button_clicks.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

namespace dlmtest {
namespace {

using platform::Cp;

const char* const kFiles[] = {"Quillary.srv", "Quillary.cfg", "Quillary.ini", "Quillary.edd", "Quillary.ico"};

QWidget* ButtonNamed(QWidget* window, const std::string& cp1251) {
    return sbtest::ButtonNamed(window, QString::fromStdString(platform::Utf8FromCp1251(cp1251)));
}

// Answers the module's modal window from inside its loop, on the test thread: a message posted to a
// window of the test before the install call is dispatched by the pump of that loop (the first loop
// that runs), and from there a Qt timer of this thread steps through the window as a user would.
class TDialogWatch {
public:
    explicit TDialogWatch(fs::path saveTo) : saveTo_(std::move(saveTo)) {
        window_ = ostro_create_window(&TDialogWatch::Proc, this);
        ostro_post_message(window_, kStart, 0, 0);
    }
    ~TDialogWatch() {
        step_.reset();
        ostro_destroy_window(window_);
    }

    bool Shown = false;
    std::string Caption, Message, SavedLog; // cp1251
    bool Saved = false;

private:
    static constexpr uint32_t kStart = 0x0400 + 77;
    static constexpr uint64_t kDeadlineMs = 30000;

    static intptr_t Proc(void* context, uint32_t, uint32_t msg, uintptr_t, intptr_t) {
        if (msg == kStart && QApplication::instance() != nullptr)
            static_cast<TDialogWatch*>(context)->Start();
        return 0;
    }
    void Start() {
        deadline_ = platform::MonotonicMs() + kDeadlineMs;
        step_ = std::make_unique<QTimer>();
        QObject::connect(step_.get(), &QTimer::timeout, [this] { Look(); });
        step_->start(10);
    }

    // Clicks are queued: a window they open runs its loop from Qt's loop, not from inside this step,
    // whose timer does not fire again while the step runs.
    void Look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        auto* files = qobject_cast<QFileDialog*>(modal);
        if (platform::MonotonicMs() > deadline_) {
            QTimer::singleShot(0, modal, &QWidget::close); // something went astray: the test fails, not hangs
            return;
        }
        if (stage_ == 0 && files == nullptr) {
            Shown = true;
            Caption = ui_FromQt(modal->windowTitle());
            if (auto* label = modal->findChild<QLabel*>()) Message = ui_FromQt(label->text());
            if (QWidget* save = ButtonNamed(modal, Cp("Сохранить..."))) {
                QTimer::singleShot(0, save, [save] { sbtest::ClickButton(save); });
                stage_ = 1;
            }
        } else if (stage_ == 1 && files != nullptr) {
            // Typed into the name field: selectFile leaves the field alone once it has the focus.
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(saveTo_.string()));
            EXPECT_EQ(files->selectedFiles().join('|').toStdString(), saveTo_.string());
            static_cast<QDialog*>(files)->accept(); // as its Save button does
            stage_ = 2;
        } else if (stage_ == 2 && files == nullptr && fs::exists(saveTo_)) {
            // Written at once by the button's handler, which runs on this thread.
            SavedLog = ReadText(saveTo_);
            Saved = true;
            if (QWidget* close = ButtonNamed(modal, Cp("Закрыть")))
                QTimer::singleShot(0, close, [close] { sbtest::ClickButton(close); });
            stage_ = 3; // the deadline still holds if the window does not close
        }
    }
    static std::string ui_FromQt(const QString& s) { return platform::Cp1251FromUtf8(s.toStdString()); }

    fs::path saveTo_;
    uint32_t window_ = 0;
    std::unique_ptr<QTimer> step_;
    int stage_ = 0;
    uint64_t deadline_ = 0;
};

class DlmInstall : public DlmTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DlmTest::SetUp());
        // The module decides by itself that there is no display.
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            ::unsetenv(name);
        src_ = dir_ / "dist";
        dst_ = dir_ / "drivers";
        fs::create_directories(src_);
        fs::create_directories(dst_);
        ASSERT_NO_FATAL_FAILURE(Load());
    }

    // The folder text as a host passes it: with the separator at the end.
    static std::string Dir(const fs::path& p) { return p.string() + "/"; }
    void Distribute(const std::vector<std::string>& files) {
        for (const std::string& f : files)
            WriteText(src_ / f, "contents of " + f + std::string(3000, f[9]));
        if (fs::exists(src_ / "Quillary.srv")) fs::permissions(src_ / "Quillary.srv", fs::perms::owner_all);
    }
    static std::set<std::string> Names(const fs::path& dir) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }

    struct TRun {
        bool Result;
        bool Shown;
        std::string Caption, Message, Log;
    };
    TRun Install(const std::string& source, const std::string& target) {
        return Install(source, target.c_str());
    }
    TRun Install(const std::string& source, const char* target) {
        // Outside the quoted folder: the dialog's name field reads quoted names as a list.
        const fs::path saveTo = root_ / ("saved-" + std::to_string(runs_++) + ".txt");
        TDialogWatch watch(saveTo);
        const bool result = module.InstallDriver(0, source.c_str(), target);
        EXPECT_EQ(watch.Saved, watch.Shown) << "a log shown is saved through the window's button";
        return {result, watch.Shown, watch.Caption, watch.Message, watch.SavedLog};
    }

    // The log's lines, each followed by CR LF as the saved file holds them.
    std::string Head() {
        TIdentity identity;
        EXPECT_EQ(module.GetDeviceInfo(&identity), 0);
        uint32_t d1;
        uint16_t d2, d3;
        std::memcpy(&d1, identity.GUID, 4);
        std::memcpy(&d2, identity.GUID + 4, 2);
        std::memcpy(&d3, identity.GUID + 6, 2);
        const uint8_t* b = identity.GUID + 8;
        char guid[64];
        std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", d1, d2, d3,
                      b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
        return std::string("GUID=") + guid + "\r\nName=" + identity.Title + "\r\n";
    }
    static std::string Step(const char* header, const std::string& src, const std::string& dst,
                            const char* outcome) {
        return Cp(header) + "\r\n" + Cp("Исходный файл: ") + src + "\r\n" + Cp("Целевой файл: ") + dst +
               "\r\n" + (*outcome ? Cp(outcome) + "\r\n" : std::string());
    }
    static constexpr const char* kServer = "Копируем сервер доступа к устройству...";
    static constexpr const char* kConfig = "Копируется конфигурационный файл по умолчанию...";
    static constexpr const char* kDescription = "Копируется файл описания устройства...";
    static constexpr const char* kIcon = "Копируется файл пиктограммы сервера...";
    static constexpr const char* kCopied = "Успешное копирование файла.";
    static constexpr const char* kCopyFailed = "ERROR: Ошибка копирвания файла!";
    static constexpr const char* kNotFound = "ERROR: Файл не найден!";
    static constexpr const char* kNoConfig = "WARRNING: Файл конфигурации поумолчанию не определен.";
    static constexpr const char* kNoDescription = "WARRNING: Файл описания устроства не определен.";
    static std::string FatalMessage() {
        return Cp(
            "При установке драйвера произошли серьезные ошибки. Пожалуйста, проанализируйте журнал установки "
            "драйвера. В случае необходимости, сохраните содержимое журнала в файл и свяжитесь со службой "
            "технической поддержки компании Pravel Software House.");
    }

    fs::path src_, dst_;
    int runs_ = 0;
};

TEST_F(DlmInstall, CopiesAllFiveFilesOverOldOnesWithoutShowingTheLog) {
    std::vector<std::string> files(std::begin(kFiles), std::end(kFiles));
    Distribute(files);
    WriteText(dst_ / "Quillary.cfg", "an older configuration");
    WriteText(dst_ / "Quillary.srv", "an older server");
    ASSERT_EQ(QApplication::instance(), nullptr) << "the host is no Qt program";

    const TRun run = Install(Dir(src_), Dir(dst_));
    EXPECT_TRUE(run.Result);
    EXPECT_FALSE(run.Shown);
    for (const std::string& f : files)
        EXPECT_EQ(ReadText(dst_ / f), ReadText(src_ / f)) << f;
    // The user's configuration is kept beside; the old server is only replaced.
    std::set<std::string> kept(files.begin(), files.end());
    kept.insert("Quillary.cfg.bak");
    EXPECT_EQ(Names(dst_), kept) << "no copy left half-way";
    EXPECT_EQ(ReadText(dst_ / "Quillary.cfg.bak"), "an older configuration");
    EXPECT_TRUE((fs::status(dst_ / "Quillary.srv").permissions() & fs::perms::owner_exec) != fs::perms::none);

    // The module made the application on the host's thread, offscreen for want of a display.
    ASSERT_NE(QApplication::instance(), nullptr);
    EXPECT_EQ(QApplication::instance()->thread(), QThread::currentThread());
    EXPECT_EQ(QGuiApplication::platformName(), QString("offscreen"));
}

TEST_F(DlmInstall, OneFolderUnderTwoNamesRewritesNothing) {
    Distribute({"Quillary.srv", "Quillary.cfg", "Quillary.ini", "Quillary.edd", "Quillary.ico"});
    fs::create_directory_symlink(src_, dir_ / "link");
    const std::string link = Dir(dir_ / "link");
    const auto inodes = [&] {
        std::map<std::string, uintmax_t> numbers;
        for (const auto& e : fs::directory_iterator(src_)) {
            struct stat st;
            EXPECT_EQ(::stat(e.path().c_str(), &st), 0);
            numbers[e.path().filename().string()] = st.st_ino;
        }
        return numbers;
    };
    const auto before = inodes();
    const TRun run = Install(Dir(src_), link);
    EXPECT_TRUE(run.Result);
    EXPECT_FALSE(run.Shown);
    EXPECT_EQ(inodes(), before) << "no file written over itself";

    // Without the server the install fails, and the log shows what the one folder gave.
    fs::remove(src_ / "Quillary.srv");
    const TRun failed = Install(Dir(src_), link);
    EXPECT_FALSE(failed.Result);
    ASSERT_TRUE(failed.Shown);
    EXPECT_EQ(failed.Caption, Cp("Установка драйвера..."));
    EXPECT_EQ(failed.Message, FatalMessage()) << "a fatal error keeps the first message";
    const std::string s = Dir(src_), d = link;
    EXPECT_EQ(failed.Log, Head() + Step(kServer, s + "Quillary.srv", d + "Quillary.srv", kNotFound) +
                              Step(kConfig, s + "Quillary.cfg", d + "Quillary.cfg", kCopied) +
                              Step(kIcon, s + "Quillary.ico", d + "Quillary.ico", kCopied));
}

// Names that differ only in letter case are different folders: missing, every copy fails; made, every
// file goes there.
TEST_F(DlmInstall, AFolderDifferingInLetterCaseIsAnotherFolder) {
    Distribute({"Quillary.srv", "Quillary.cfg", "Quillary.ini", "Quillary.edd", "Quillary.ico"});
    const std::string s = Dir(src_), d = Dir(dir_ / "DIST");
    const TRun missing = Install(s, d);
    EXPECT_FALSE(missing.Result);
    ASSERT_TRUE(missing.Shown);
    EXPECT_EQ(missing.Log, Head() + Step(kServer, s + "Quillary.srv", d + "Quillary.srv", kCopyFailed) +
                               Step(kConfig, s + "Quillary.cfg", d + "Quillary.cfg", kCopyFailed) +
                               Step(kConfig, s + "Quillary.ini", d + "Quillary.ini", kCopyFailed) +
                               Step(kDescription, s + "Quillary.edd", d + "Quillary.edd", kCopyFailed) +
                               Step(kIcon, s + "Quillary.ico", d + "Quillary.ico", kCopyFailed));

    fs::create_directory(dir_ / "DIST");
    const TRun made = Install(s, d);
    EXPECT_TRUE(made.Result);
    EXPECT_FALSE(made.Shown);
    EXPECT_EQ(Names(dir_ / "DIST"), Names(src_));
    for (const char* f : kFiles)
        EXPECT_EQ(ReadText(dir_ / "DIST" / f), ReadText(src_ / f)) << f;
}

TEST_F(DlmInstall, NoTargetFolderInstallsNothing) {
    Distribute({"Quillary.srv", "Quillary.cfg"});
    // A blank target would name files in the host's working folder.
    const fs::path work = dir_ / "work";
    fs::create_directory(work);
    const fs::path was = fs::current_path();
    fs::current_path(work);
    for (const char* target : {static_cast<const char*>(nullptr), "", "  "}) {
        EXPECT_FALSE(Install(Dir(src_), target).Result)
            << (target ? "\"" + std::string(target) + "\"" : "null");
        EXPECT_TRUE(fs::is_empty(work));
    }
    fs::current_path(was);
}

TEST_F(DlmInstall, OnlyTheServerInTheDistributionIsEnough) {
    Distribute({"Quillary.srv"});
    const TRun run = Install(Dir(src_), Dir(dst_));
    EXPECT_TRUE(run.Result);
    EXPECT_FALSE(run.Shown) << "the warnings alone show nothing";
    EXPECT_EQ(Names(dst_), std::set<std::string>{"Quillary.srv"});
    EXPECT_EQ(ReadText(dst_ / "Quillary.srv"), ReadText(src_ / "Quillary.srv"));
}

TEST_F(DlmInstall, AFailedCopyKeepsTheOldFileAndShowsTheLog) {
    Distribute({"Quillary.srv"});
    // A configuration that cannot be read to its end.
    fs::create_symlink("/proc/self/mem", src_ / "Quillary.cfg");
    WriteText(dst_ / "Quillary.cfg", "the configuration in use");
    const TRun run = Install(Dir(src_), Dir(dst_));
    EXPECT_TRUE(run.Result) << "only the server is vital";
    ASSERT_TRUE(run.Shown);
    EXPECT_EQ(run.Message,
              Cp("При установке драйвера контроллера WAGO произошли ошибки, не влияющие на работоспособность "
                 "драйвера. Проанализируйте журнал установки драйвера. В случае необходимости, сохраните "
                 "содержимое журнала в файл и свяжитесь со службой технической поддержки компании Pravel "
                 "Software House."));
    const std::string s = Dir(src_), d = Dir(dst_);
    EXPECT_EQ(run.Log, Head() + Step(kServer, s + "Quillary.srv", d + "Quillary.srv", kCopied) +
                           Step(kConfig, s + "Quillary.cfg", d + "Quillary.cfg", kCopyFailed) +
                           Step(kConfig, s + "Quillary.ini", d + "Quillary.ini", kNoConfig) +
                           Step(kDescription, s + "Quillary.edd", d + "Quillary.edd", kNoDescription));
    EXPECT_EQ(ReadText(dst_ / "Quillary.cfg"), "the configuration in use");
    EXPECT_EQ(Names(dst_), (std::set<std::string>{"Quillary.srv", "Quillary.cfg"}));
}

TEST_F(DlmInstall, AServerThatCannotBeCopiedFailsTheInstall) {
    Distribute({"Quillary.srv", "Quillary.cfg", "Quillary.ico"});
    fs::create_directories(dst_ / "Quillary.srv" / "inside");
    const TRun run = Install(Dir(src_), Dir(dst_));
    EXPECT_FALSE(run.Result);
    ASSERT_TRUE(run.Shown);
    EXPECT_EQ(run.Message, FatalMessage());
    const std::string s = Dir(src_), d = Dir(dst_);
    EXPECT_EQ(run.Log, Head() + Step(kServer, s + "Quillary.srv", d + "Quillary.srv", kCopyFailed) +
                           Step(kConfig, s + "Quillary.cfg", d + "Quillary.cfg", kCopied) +
                           Step(kConfig, s + "Quillary.ini", d + "Quillary.ini", kNoConfig) +
                           Step(kDescription, s + "Quillary.edd", d + "Quillary.edd", kNoDescription) +
                           Step(kIcon, s + "Quillary.ico", d + "Quillary.ico", kCopied));
    EXPECT_EQ(ReadText(dst_ / "Quillary.ico"), ReadText(src_ / "Quillary.ico"));
}

TEST_F(DlmInstall, RemovesTheServerConfigurationAndIconOfExactlyTheseNames) {
    for (const char* f : kFiles)
        WriteText(dst_ / f, f);
    WriteText(dst_ / "QUILLARY.SRV", "someone else's");
    EXPECT_TRUE(module.RemoveDriver(7, Dir(dst_).c_str()));
    EXPECT_EQ(Names(dst_), (std::set<std::string>{"Quillary.ini", "Quillary.edd", "QUILLARY.SRV"}));

    // A folder named without its separator: its own files go, none beside it.
    WriteText(dst_ / "Quillary.cfg", "cfg");
    WriteText(dst_.string() + "Quillary.cfg", "beside");
    EXPECT_TRUE(module.RemoveDriver(7, dst_.string().c_str()));
    EXPECT_FALSE(fs::exists(dst_ / "Quillary.cfg"));
    EXPECT_EQ(ReadText(dst_.string() + "Quillary.cfg"), "beside");

    // No folder at all names none: nothing relative to wherever the host runs is touched.
    EXPECT_FALSE(module.RemoveDriver(0, nullptr));
    EXPECT_FALSE(module.RemoveDriver(0, ""));
}

TEST_F(DlmInstall, AServerThatCannotBeDeletedKeepsTheRest) {
    // A folder where the server should be: no user, root included, deletes it as a file.
    fs::create_directories(dst_ / "Quillary.srv" / "inside");
    WriteText(dst_ / "Quillary.cfg", "cfg");
    WriteText(dst_ / "Quillary.ico", "ico");
    EXPECT_FALSE(module.RemoveDriver(0, Dir(dst_).c_str()));
    EXPECT_EQ(Names(dst_), (std::set<std::string>{"Quillary.srv", "Quillary.cfg", "Quillary.ico"}));

    // Without the server, the configuration is the first delete, and its failure keeps the icon.
    fs::remove_all(dst_ / "Quillary.srv");
    fs::remove(dst_ / "Quillary.cfg");
    fs::create_directories(dst_ / "Quillary.cfg" / "inside");
    EXPECT_FALSE(module.RemoveDriver(0, Dir(dst_).c_str()));
    EXPECT_TRUE(fs::exists(dst_ / "Quillary.ico"));
}

TEST_F(DlmInstall, AfterShutdownInstallFailsAndRemoveHasNothingToDo) {
    WriteConfig(ConfigText({}, 60, 6000, false));
    Distribute({"Quillary.srv", "Quillary.cfg"});
    for (const char* f : kFiles)
        WriteText(dst_ / f, f);
    EXPECT_EQ(module.Done(), -5);
    const TRun run = Install(Dir(src_), Dir(dst_));
    EXPECT_FALSE(run.Result);
    EXPECT_FALSE(run.Shown);
    EXPECT_EQ(ReadText(dst_ / "Quillary.srv"), "Quillary.srv") << "nothing copied";
    EXPECT_TRUE(module.RemoveDriver(0, Dir(dst_).c_str()));
    EXPECT_EQ(Names(dst_).size(), 5u) << "nothing removed";
    module.Handle = nullptr;
}

// A host that runs a Qt application of its own: on the calling thread the module's window uses it as
// it is; on another thread no window can be made there, and nothing is installed. Each host is a
// process of its own.
// A host process of this test leaves by _exit, past the exit handler that takes its namespace's
// window table away; it is the table's only holder, so it takes it away itself.
// Its scratch folder goes the same way.
[[noreturn]] void LeaveHost(int code, const fs::path& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    ::shm_unlink(("/" + platform::NamespacedName("ostrolinka.windows")).c_str());
    ::_exit(code);
}

TEST_F(DlmInstall, AHostsOwnApplicationIsUsedOnlyOnItsThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Distribute({"Quillary.cfg"});
    static int argc = 1;
    static char name[] = "host";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1); // the host's choice, made before its application
    EXPECT_EXIT(
        {
            ::alarm(15); // a host that hangs fails rather than holds the run
            QApplication app(argc, argv);
            const TRun run = Install(Dir(src_), Dir(dst_));
            LeaveHost(!run.Result && run.Shown && QApplication::instance() == &app ? 0 : 1, dir_);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            ::alarm(15);
            std::atomic<bool> made{false};
            std::thread([&] {
                new QApplication(argc, argv);
                made = true;
                for (;;)
                    std::this_thread::sleep_for(std::chrono::seconds(1));
            }).detach();
            while (!made)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const bool result = module.InstallDriver(0, Dir(src_).c_str(), Dir(dst_).c_str());
            LeaveHost(!result && Names(dst_).empty() ? 0 : 1, dir_);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace dlmtest

#if defined(__SANITIZE_ADDRESS__)
// The font configuration library that the module's windows load keeps its caches to the end of the
// process; the module's own copy of this hook is not visible from a shared object.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
