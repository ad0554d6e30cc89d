#include "ui/application.h"

#include "platform/messages.h"
#include "platform/text.h"
#include "ui/form.h"
#include "ui/icon.h"

#include <QApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QtDebug>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>

namespace ui {
namespace {

// The longest one call of the loop hook spends on Qt's events before the wait checks again.
constexpr int kLoopSliceMs = 5;

// One wake per batch: the hook posts a pump event only when none is pending.
struct Pump {
    QObject* target = nullptr; // lives on the application thread, never deleted
    std::atomic<bool> pending{false};
};

Pump& ThePump() {
    static Pump* pump = new Pump();
    return *pump;
}

void PumpMessages() {
    ThePump().pending.store(false, std::memory_order_release);
    try {
        platform::ProcessMessages();
    } catch (...) {
        HandlerRaised();
    }
}

void Wake() {
    Pump& pump = ThePump();
    if (pump.pending.exchange(true, std::memory_order_acq_rel)) return;
    QMetaObject::invokeMethod(pump.target, &PumpMessages, Qt::QueuedConnection);
}

void InstallPump() {
    Pump& pump = ThePump();
    if (pump.target != nullptr || QThread::currentThread() != qApp->thread()) return;
    pump.target = new QObject();
    platform::SetThreadWakeHook(Wake);
    // A wait of the platform layer on this thread (for a thread, a lock) keeps Qt's timers and
    // windows going: the host's whole GUI would stand still otherwise.
    platform::SetThreadLoopHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents, kLoopSliceMs); });
    // Whatever was queued before the hook existed.
    Wake();
    QObject::connect(qApp, &QObject::destroyed, [] {
        platform::SetThreadWakeHook({});
        platform::SetThreadLoopHook({});
    });
}

} // namespace

void EnsureApplication() {
    if (QApplication::instance() == nullptr) {
        const char* platformName = std::getenv("QT_QPA_PLATFORM");
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if ((platformName == nullptr || *platformName == '\0') && (display == nullptr || *display == '\0') &&
            (wayland == nullptr || *wayland == '\0')) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        // QApplication keeps references to both for its whole life.
        static int argc = 1;
        static char* argv[] = {program_invocation_name, nullptr};
        auto* app = new QApplication(argc, argv);
        app->setQuitOnLastWindowClosed(false);
    }
    InstallPump();
}

bool OnApplicationThread() {
    QCoreApplication* app = QCoreApplication::instance();
    // Widgets live on the application's thread only.
    return app == nullptr ||
           (qobject_cast<QApplication*>(app) != nullptr && app->thread() == QThread::currentThread());
}

void RunHandler(const std::function<void()>& handler) {
    if (!handler) return;
    try {
        handler();
    } catch (...) {
        HandlerRaised();
    }
}

TApplication& Application() {
    static TApplication* application = new TApplication();
    return *application;
}

void TApplication::SetIcon(const TIcon& icon) {
    EnsureApplication();
    QApplication::setWindowIcon(icon.QtIcon());
}

void TApplication::Run(TForm& mainForm) {
    EnsureApplication();
    mainForm_ = &mainForm;
    if (!terminated_) QApplication::exec();
    // The loop has ended: a later Run starts afresh.
    mainForm_ = nullptr;
    terminated_ = false;
}

void TApplication::Terminate() {
    terminated_ = true;
    // Leaves every loop of the thread, modal ones too.
    if (QApplication::instance() != nullptr) QApplication::exit(0);
}

void TApplication::ForgetForm(TForm* form) {
    if (mainForm_ == form) mainForm_ = nullptr;
}

void TApplication::ProcessMessages() {
    EnsureApplication();
    QApplication::processEvents();
    PumpMessages();
}

QString ToQt(const std::string& cp1251) {
    return QString::fromStdString(platform::Utf8FromCp1251(cp1251));
}

std::string FromQt(const QString& text) {
    return platform::Cp1251FromUtf8(text.toStdString());
}

} // namespace ui

#if defined(__SANITIZE_ADDRESS__)
// The font configuration library keeps its caches to the end of the process; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
