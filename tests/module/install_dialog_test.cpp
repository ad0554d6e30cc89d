#include "module/install.h"

#include "framework/device_test_support.h"
#include "modbus/modbus_driver.h"
#include "platform/files.h"
#include "platform/text.h"
#include "styledbuttons/button_test_support.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

namespace {

using device_test::ReadBytes;

TEST(InstallDialog, PicturesOfTheStyledButtonsInTheirStates) {
    module::TInstallProcDialog dialog;
    dialog.ProcessMemo.Lines().Add("GUID={00000000-0000-0000-0000-000000000000}");
    const std::vector<QImage> pictures = sbtest::SaveButtonStates(
        dialog, {&dialog.CancelBitBtn, &dialog.SaveLogBitBtn}, "install_dialog_buttons");
    EXPECT_TRUE(sbtest::FourDistinctPictures(pictures));
}

// A reinstall keeps each user file (configuration, settings, description) that the copy replaces with
// other bytes as <name>.bak, and the log names it; an equal one, the server and the icon are only
// copied. A user file whose bytes cannot be kept (a folder holds the name) is not replaced.
TEST(InstallDialog, AReinstallKeepsEachChangedUserFileBesideItAndNamesItInTheLog) {
    const device_test::TTempDir src, dst;
    std::filesystem::create_directories(dst.Path / "Quillary.ini.bak" / "inside");
    const struct {
        std::string name, old;
        bool kept;
    } cases[] = {{"Quillary.cfg", "the user's devices", true},
                 {"Quillary.edd", "the user's types", true},
                 {"Quillary.ini", "new Quillary.ini", false},
                 {"Quillary.srv", "an older server", false},
                 {"Quillary.ico", "an older icon", false}};
    for (const auto& c : cases) {
        device_test::WriteBytes(src.File(c.name), "new " + c.name);
        device_test::WriteBytes(dst.File(c.name), c.old);
    }
    modbus::TModbusrtu_Driver driver;
    for (const bool roomForIni : {true, false}) {
        if (!roomForIni) device_test::WriteBytes(dst.File("Quillary.ini"), "the user's settings");
        module::TInstallProcDialog dialog;
        EXPECT_EQ(dialog.Install(driver, src.File(""), dst.File("")), roomForIni);
        const std::string log = dialog.ProcessMemo.Lines().Text();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const std::string bak = dst.File(c.name + ".bak");
            const bool kept = roomForIni && c.kept;
            EXPECT_EQ(log.find("Прежний файл сохранен как: "_cp + bak) != std::string::npos, kept) << log;
            if (kept) {
                EXPECT_EQ(ReadBytes(bak), c.old);
            }
            const bool refused = !roomForIni && c.name == "Quillary.ini";
            EXPECT_EQ(ReadBytes(dst.File(c.name)), refused ? "the user's settings" : "new " + c.name);
        }
    }
    // A distribution file past the read bound cannot be compared with the user's: it replaces nothing.
    std::filesystem::resize_file(src.File("Quillary.edd"), platform::kMaxFileSize + 1);
    device_test::WriteBytes(dst.File("Quillary.edd"), "the user's types");
    module::TInstallProcDialog dialog;
    EXPECT_FALSE(dialog.Install(driver, src.File(""), dst.File("")));
    EXPECT_EQ(ReadBytes(dst.File("Quillary.edd")), "the user's types");
}

} // namespace
