// The module's windows as a host that loaded Quillary.dlm calls them: the entry points bind by name,
// the state window needs a full initialisation, and a released driver or a thread without the
// application shows nothing. The test host runs a Qt application of its own, as a Qt host does;
// the module's modal windows are answered from inside their loops.
#include "dlm_host_application.h"
#include "dlm_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

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

class DlmWindows : public DlmTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DlmTest::SetUp());
        UseHostApplication();
        WriteConfig(
            ConfigText({"DeviceName=\"Pump\" DeviceAddress=\"1\" RoutingPrefix=\"A\""}, 60, 6000, false));
        ASSERT_NO_FATAL_FAILURE(Load());
        ASSERT_TRUE(module.Bind(ShowLogList, "DLMShowLogList") && module.Bind(About, "DLMAbout") &&
                    module.Bind(ShowState, "DLMShowState"));
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

    FWindow ShowLogList = nullptr;
    FWindow About = nullptr;
    FShowState ShowState = nullptr;
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

} // namespace
} // namespace dlmtest
