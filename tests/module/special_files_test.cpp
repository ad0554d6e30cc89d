// Files that are not what they seem, through every reader of the system and the module's log: a
// link to a device, a FIFO, a directory, a file past the size bound. Each load fails as a bad file
// of its kind does, its log says why, and nothing waits on a FIFO.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <utility>

#include "framework/connection.h"
#include "framework/driver.h"
#include "framework/intercom_test_support.h"
#include "host/host_tag_database.h"
#include "modbus/edd_file.h"
#include "module/module_init.h"
#include "module/module_log.h"
#include "platform/files.h"
#include "platform/text.h"
#include "styledbuttons/pixels/picture.h"
#include "ui/icon.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// False when the call had not returned in time; then each FIFO is opened from the other side to
// end the wait: a writer closed at once (a waiting reader sees the end), readers kept until the
// call returns (a waiting writer can write).
bool ReturnsInTime(const std::function<void()>& call, const std::vector<std::string>& fifos) {
    std::future<void> done = std::async(std::launch::async, call);
    const bool inTime = done.wait_for(10s) == std::future_status::ready;
    std::vector<int> readers;
    while (done.wait_for(100ms) != std::future_status::ready)
        for (const std::string& fifo : fifos) {
            if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
            if (const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0)
                readers.push_back(fd);
        }
    done.get();
    for (const int fd : readers)
        ::close(fd);
    return inTime;
}

void Sparse(const std::string& path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
}

class SpecialFilesTest : public intercom_test::IntercomTest {
protected:
    SpecialFilesTest() : IntercomTest("special") {}
    void SetUp() override {
        IntercomTest::SetUp();
        fs::create_directories(dir_);
        savedDescriptions_ = std::exchange(modbus::DeviceDescriptions, nullptr);
    }
    void TearDown() override {
        module::DoneModule();
        delete std::exchange(modbus::DeviceDescriptions, savedDescriptions_);
        framework::SetSerialPortsFile("");
        std::error_code ec;
        fs::remove_all(dir_, ec);
        IntercomTest::TearDown();
    }

    const fs::path dir_ = fs::temp_directory_path() / ("special-" + std::to_string(::getpid()));
    modbus::TEDDDeviceFile* savedDescriptions_ = nullptr;
};

} // namespace

TEST_F(SpecialFilesTest, EveryReaderRefusesThemAtOnceAndSaysWhyAndTheLogWritesOnlyARegularFile) {
    struct TSpecial {
        const char* Name;
        std::function<void(const std::string&)> Make;
        std::string Reason; // utf-8
    };
    const std::string notRegular = "это не обычный файл.";
    const std::vector<TSpecial> specials = {
        {"link to /dev/zero", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); },
         notRegular},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, notRegular},
        {"directory", [](const std::string& p) { ASSERT_TRUE(fs::create_directory(p)); }, notRegular},
        {"past the bound", [](const std::string& p) { Sparse(p, platform::kMaxFileSize + 1); },
         "он больше 67108864 байт."},
    };
    for (const TSpecial& special : specials) {
        SCOPED_TRACE(special.Name);
        const fs::path folder = dir_ / std::to_string(&special - &specials[0]);
        fs::create_directories(folder);
        auto path = [&](const char* name) { return (folder / name).string(); };
        auto notRead = [&](const char* name) {
            return "Файл \"" + path(name) + "\" не прочитан: " + special.Reason;
        };
        std::vector<std::string> files;
        for (const char* name : {"Quillary.cfg", "Quillary.edd", "Quillary.ini", "host.tagdb", "p.jpg",
                                 "p.bmp", "Quillary.ico", "module.log"}) {
            files.push_back(path(name));
            ASSERT_NO_FATAL_FAILURE(special.Make(files.back()));
        }

        // The initialisation reads the settings, the description and the configuration, and goes on.
        module::TDrvInitRecord record{};
        std::memcpy(record.Directory, folder.c_str(), folder.string().size());
        record.ConfigOnly = 1;
        EXPECT_TRUE(ReturnsInTime([&] { EXPECT_EQ(module::InitModule(record), 0); }, files));
        EXPECT_EQ(framework::Driver->DeviceList->Count(), 0);
        const std::string log = platform::Utf8FromCp1251(framework::ErrorObj->Log->GetText());
        for (const char* name : {"Quillary.ini", "Quillary.edd"})
            EXPECT_NE(log.find(notRead(name)), std::string::npos) << name << "\n" << log;
        // The configuration's load is told once, by the module.
        const std::string cfg = path("Quillary.cfg");
        EXPECT_NE(log.find("Конфигурационный файл " + cfg + " не прочитан: " + special.Reason),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find(cfg), log.rfind(cfg)) << log;
        EXPECT_NE(log.find("Ошибка инициализации специализированных данных."), std::string::npos) << log;
        module::DoneModule();

        host::THostTagDatabase tags(path("host.tagdb"));
        EXPECT_TRUE(ReturnsInTime([&] { tags.Refresh(); }, files));
        EXPECT_TRUE(tags.Tags().empty());
        EXPECT_EQ(tags.Problems().empty() ? "" : tags.Problems()[0], notRead("host.tagdb"));

        for (const char* name : {"p.jpg", "p.bmp"}) {
            styledbuttons::TPicture picture;
            std::string why;
            EXPECT_TRUE(ReturnsInTime(
                [&] { styledbuttons::LoadPictureFile(picture, path(name), false, &why); }, files));
            EXPECT_TRUE(picture.Empty());
            EXPECT_EQ(platform::Utf8FromCp1251(why), notRead(name));
        }
        ui::TIcon icon;
        EXPECT_TRUE(ReturnsInTime([&] { EXPECT_FALSE(icon.LoadFromFile(path("Quillary.ico"))); }, files));

        // The log goes on in memory and says once why its file is not written; a large regular file
        // is only appended to.
        module::TModuleErrorClass errors(path("module.log"));
        EXPECT_TRUE(ReturnsInTime(
            [&] {
                errors.AddToLog(0, "a");
                errors.AddToLog(-1, "b");
            },
            files));
        const std::string refused =
            "Файл \"" + path("module.log") + "\" не записан: " + notRegular + ": 0\r\n";
        EXPECT_EQ(platform::Utf8FromCp1251(errors.Log->GetText()),
                  "a: 0\r\n" + (special.Reason == notRegular ? refused : "") + "b: -1");
    }
    // The bound itself is read, and a missing log file is made.
    Sparse((dir_ / "at-bound").string(), platform::kMaxFileSize);
    std::string data;
    EXPECT_TRUE(platform::ReadRegularFile((dir_ / "at-bound").string(), data));
    EXPECT_EQ(data.size(), platform::kMaxFileSize);
    module::TModuleErrorClass(dir_ / "new.log").AddToLog(0, "made");
    EXPECT_TRUE(platform::ReadRegularFile((dir_ / "new.log").string(), data));
    EXPECT_EQ(data, "made: 0\r\n");
}
