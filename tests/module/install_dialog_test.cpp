#include "module/install.h"

#include "modbus/modbus_driver.h"
#include "platform/files.h"
#include "platform/text.h"
#include "styledbuttons/button_test_support.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

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
    const fs::path dir = fs::temp_directory_path() / ("install-keep-" + std::to_string(::getpid()));
    const fs::path src = dir / "dist", dst = dir / "drivers";
    fs::create_directories(src);
    fs::create_directories(dst);
    fs::create_directories(dst / "Quillary.ini.bak" / "inside");
    const struct {
        std::string name, old;
        bool kept;
    } cases[] = {{"Quillary.cfg", "the user's devices", true},
                 {"Quillary.edd", "the user's types", true},
                 {"Quillary.ini", "new Quillary.ini", false},
                 {"Quillary.srv", "an older server", false},
                 {"Quillary.ico", "an older icon", false}};
    for (const auto& c : cases) {
        std::ofstream(src / c.name, std::ios::binary) << "new " << c.name;
        std::ofstream(dst / c.name, std::ios::binary) << c.old;
    }
    modbus::TModbusrtu_Driver driver;
    for (const bool roomForIni : {true, false}) {
        if (!roomForIni) std::ofstream(dst / "Quillary.ini", std::ios::binary) << "the user's settings";
        module::TInstallProcDialog dialog;
        EXPECT_EQ(dialog.Install(driver, src.string() + "/", dst.string() + "/"), roomForIni);
        const std::string log = dialog.ProcessMemo.Lines().Text();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const fs::path path = dst / c.name, bak = dst / (c.name + ".bak");
            const bool kept = roomForIni && c.kept;
            EXPECT_EQ(log.find("Прежний файл сохранен как: "_cp + bak.string()) != std::string::npos, kept)
                << log;
            if (kept) {
                EXPECT_EQ(ReadBytes(bak), c.old);
            }
            const bool refused = !roomForIni && c.name == "Quillary.ini";
            EXPECT_EQ(ReadBytes(path), refused ? "the user's settings" : "new " + c.name);
        }
    }
    // A distribution file past the read bound cannot be compared with the user's: it replaces nothing.
    fs::resize_file(src / "Quillary.edd", platform::kMaxFileSize + 1);
    std::ofstream(dst / "Quillary.edd", std::ios::binary) << "the user's types";
    module::TInstallProcDialog dialog;
    EXPECT_FALSE(dialog.Install(driver, src.string() + "/", dst.string() + "/"));
    EXPECT_EQ(ReadBytes(dst / "Quillary.edd"), "the user's types");
    fs::remove_all(dir);
}

} // namespace
