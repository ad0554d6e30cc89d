#include "module/install.h"

#include "framework/device_test_support.h"
#include "modbus/modbus_driver.h"
#include "platform/files.h"
#include "platform/text.h"
#include "styledbuttons/button_test_support.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

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
// other bytes as the first of <name>.bak, <name>.bak1, ... holding no other bytes (a link there is
// replaced, a folder passed over), and the log names it; an equal one, the server and the icon are only
// copied. A user's linked configuration stays a link.
TEST(InstallDialog, AReinstallKeepsEachChangedUserFileBesideItAndNamesItInTheLog) {
    const device_test::TTempDir src, dst;
    std::filesystem::create_directories(dst.Path / "Quillary.ini.bak" / "inside");
    device_test::WriteBytes(dst.File("elsewhere"), "someone else's bytes");
    std::filesystem::create_symlink(dst.File("elsewhere"), dst.File("Quillary.edd.bak"));
    std::filesystem::create_symlink(dst.File("mine.cfg"), dst.File("Quillary.cfg"));
    // What a setup leaves when it could not read the user's configuration: the bytes kept, its own list.
    device_test::WriteBytes(dst.File("Quillary.cfg.bak"), "the user's devices");
    const struct {
        std::string name, old;
        const char* kept[2]; // by the first release and by the second; "" for none
    } cases[] = {{"Quillary.cfg", "the setup's list", {".bak1", ".bak2"}},
                 {"Quillary.edd", "the user's types", {".bak", ".bak1"}},
                 {"Quillary.ini", "release 1 Quillary.ini", {"", ".bak1"}},
                 {"Quillary.srv", "an older server", {"", ""}},
                 {"Quillary.ico", "an older icon", {"", ""}}};
    for (const auto& c : cases)
        device_test::WriteBytes(dst.File(c.name), c.old);
    // The user's description stays the user's when root reinstalls, and so does its backup.
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(root ? ::chown(dst.File("Quillary.edd").c_str(), 1000, 1000) : 0, 0);
    std::filesystem::permissions(dst.File("Quillary.edd"), std::filesystem::perms(0640));
    modbus::TModbusrtu_Driver driver;
    for (const int release : {1, 2}) {
        for (const auto& c : cases)
            device_test::WriteBytes(src.File(c.name), "release " + std::to_string(release) + " " + c.name);
        module::TInstallProcDialog dialog;
        // The second release names both folders without their separator.
        EXPECT_TRUE(release == 1 ? dialog.Install(driver, src.File(""), dst.File(""))
                                 : dialog.Install(driver, src.Path.string(), dst.Path.string()));
        const std::string log = dialog.ProcessMemo.Lines().Text();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name + " by release " + std::to_string(release));
            const std::string kept = c.kept[release - 1],
                              line = "Прежний файл сохранен как: "_cp + dst.File(c.name);
            EXPECT_EQ(log.find(line) != std::string::npos, !kept.empty()) << log;
            if (!kept.empty()) {
                EXPECT_NE(log.find(line + kept + "\r\n"), std::string::npos) << log;
                EXPECT_EQ(ReadBytes(dst.File(c.name + kept)), release == 1 ? c.old : "release 1 " + c.name);
            }
            EXPECT_EQ(ReadBytes(dst.File(c.name)), "release " + std::to_string(release) + " " + c.name);
            EXPECT_FALSE(std::filesystem::exists(dst.Path.string() + c.name)) << "beside the folder";
        }
    }
    EXPECT_EQ(ReadBytes(dst.File("Quillary.cfg.bak")), "the user's devices");
    EXPECT_EQ(ReadBytes(dst.File("Quillary.edd.bak")), "the user's types");
    EXPECT_EQ(std::filesystem::status(dst.File("Quillary.edd.bak")).permissions(),
              std::filesystem::perms(0640));
    EXPECT_EQ(ReadBytes(dst.File("elsewhere")), "someone else's bytes");
    EXPECT_TRUE(std::filesystem::is_symlink(dst.File("Quillary.cfg")));
    // A distribution file past the read bound cannot be compared with the user's: it replaces nothing.
    std::filesystem::resize_file(src.File("Quillary.edd"), platform::kMaxFileSize + 1);
    device_test::WriteBytes(dst.File("Quillary.edd"), "the user's types");
    module::TInstallProcDialog dialog;
    EXPECT_FALSE(dialog.Install(driver, src.File(""), dst.File("")));
    EXPECT_EQ(ReadBytes(dst.File("Quillary.edd")), "the user's types");
    // The rest is a row only root runs; skipping it is said so that the test is not taken for skipped.
    if (!root)
        return (void)std::printf("row not run: not root, no file of another owner to reinstall over\n");
    for (const char* name : {"Quillary.edd", "Quillary.edd.bak", "Quillary.edd.bak1"}) {
        struct stat st {};
        EXPECT_TRUE(::stat(dst.File(name).c_str(), &st) == 0 && st.st_uid == 1000 && st.st_gid == 1000)
            << name;
    }
}

} // namespace
