// Files that are not what they seem, through every reader of the system and through the module's
// log: a link to a device, a FIFO, a directory, a file past the size bound. Each load fails as a bad
// file of its kind does, its log says why, and nothing waits on a FIFO.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "framework/connection.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
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

// Runs the call; when it has not returned in time, the call counts as one that waited, and every
// FIFO named is opened from the other side to end the wait: a writer side closed at once (a waiting
// reader sees the end), a reader side kept until the call returns (a waiting writer can write).
bool ReturnsInTime(const std::function<void()>& call, const std::vector<std::string>& fifos) {
    std::future<void> done = std::async(std::launch::async, call);
    if (done.wait_for(10s) == std::future_status::ready) {
        done.get();
        return true;
    }
    std::vector<int> readers;
    while (done.wait_for(100ms) != std::future_status::ready) {
        for (const std::string& fifo : fifos) {
            if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
            if (const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) readers.push_back(fd);
        }
    }
    done.get();
    for (const int fd : readers) ::close(fd);
    return false;
}

struct TSpecial {
    const char* Name;
    std::function<void(const std::string&)> Make;
    std::string Reason; // utf-8
};

std::vector<TSpecial> SpecialFiles() {
    return {
        {"link to /dev/zero", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); },
         "это не обычный файл."},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, "это не обычный файл."},
        {"directory", [](const std::string& p) { ASSERT_TRUE(fs::create_directory(p)); }, "это не обычный файл."},
        // Sparse: it costs no disk.
        {"one byte past the bound",
         [](const std::string& p) {
             const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
             ASSERT_GE(fd, 0);
             EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(platform::kMaxFileSize + 1)), 0);
             ::close(fd);
         },
         "он больше 67108864 байт."},
    };
}

class SpecialFilesTest : public intercom_test::IntercomTest {
protected:
    SpecialFilesTest() : IntercomTest("special") {}
    void SetUp() override {
        IntercomTest::SetUp();
        dir_ = fs::temp_directory_path() / ("special-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        savedDescriptions_ = modbus::DeviceDescriptions;
        modbus::DeviceDescriptions = nullptr;
    }
    void TearDown() override {
        module::DoneModule();
        delete modbus::DeviceDescriptions;
        modbus::DeviceDescriptions = savedDescriptions_;
        framework::SetSerialPortsFile("");
        std::error_code ec;
        fs::remove_all(dir_, ec);
        IntercomTest::TearDown();
    }
    static std::string Log() {
        return framework::ErrorObj ? platform::Utf8FromCp1251(framework::ErrorObj->Log->GetText()) : std::string();
    }
    static std::string NotRead(const std::string& path, const std::string& reason) {
        return "Файл \"" + path + "\" не прочитан: " + reason;
    }

    fs::path dir_;
    modbus::TEDDDeviceFile* savedDescriptions_ = nullptr;
};

} // namespace

TEST_F(SpecialFilesTest, EveryReaderRefusesThemAtOnceAndSaysWhy) {
    const std::vector<TSpecial> specials = SpecialFiles();
    for (const TSpecial& special : specials) {
        SCOPED_TRACE(special.Name);
        const fs::path folder = dir_ / std::to_string(&special - &specials[0]);
        fs::create_directories(folder);
        auto path = [&](const char* name) { return (folder / name).string(); };
        const std::vector<std::string> names = {"Quillary.cfg", "Quillary.edd", "Quillary.ini", "host.tagdb",
                                                "picture.jpg",  "picture.bmp",  "Quillary.ico"};
        std::vector<std::string> files;
        for (const std::string& name : names) {
            files.push_back(path(name.c_str()));
            ASSERT_NO_FATAL_FAILURE(special.Make(files.back()));
        }

        // The module's initialisation reads the settings, the description and the configuration,
        // each failing as a bad file does, and goes on.
        module::TDrvInitRecord record{};
        const std::string folderText = folder.string();
        std::memcpy(record.Directory, folderText.data(), folderText.size());
        record.ConfigOnly = 1;
        int32_t result = -1;
        EXPECT_TRUE(ReturnsInTime([&] { result = module::InitModule(record); }, files));
        EXPECT_EQ(result, 0);
        EXPECT_EQ(framework::Driver->DeviceList->Count(), 0);
        const std::string log = Log();
        for (const char* name : {"Quillary.ini", "Quillary.edd", "Quillary.cfg"})
            EXPECT_NE(log.find(NotRead(path(name), special.Reason)), std::string::npos) << name << "\n" << log;
        EXPECT_NE(log.find("Ошибка инициализации специализированных данных."), std::string::npos) << log;
        module::DoneModule();

        host::THostTagDatabase tags(path("host.tagdb"));
        EXPECT_TRUE(ReturnsInTime([&] { tags.Refresh(); }, files));
        EXPECT_TRUE(tags.Tags().empty());
        ASSERT_FALSE(tags.Problems().empty());
        EXPECT_EQ(tags.Problems()[0], NotRead(path("host.tagdb"), special.Reason));

        for (const char* name : {"picture.jpg", "picture.bmp"}) {
            styledbuttons::TPicture picture;
            std::string why;
            EXPECT_TRUE(ReturnsInTime([&] { styledbuttons::LoadPictureFile(picture, path(name), false, &why); }, files));
            EXPECT_TRUE(picture.Empty()) << name;
            EXPECT_EQ(platform::Utf8FromCp1251(why), NotRead(path(name), special.Reason));
        }

        ui::TIcon icon;
        bool iconLoaded = true;
        EXPECT_TRUE(ReturnsInTime([&] { iconLoaded = icon.LoadFromFile(path("Quillary.ico")); }, files));
        EXPECT_FALSE(iconLoaded);
    }

    // The bound itself is still read.
    const std::string atBound = (dir_ / "at-bound").string();
    {
        const int fd = ::open(atBound.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(platform::kMaxFileSize)), 0);
        ::close(fd);
    }
    std::string data;
    EXPECT_TRUE(platform::ReadRegularFile(atBound, data));
    EXPECT_EQ(data.size(), platform::kMaxFileSize);
}

// The module's log file: a FIFO (read or not), a device or a directory is not written, the memory
// log says why once, and the module goes on; a missing file is made.
TEST_F(SpecialFilesTest, TheModuleLogWritesOnlyToARegularFile) {
    struct TCase {
        const char* Name;
        std::function<void(const std::string&)> Make;
        bool Written;
    };
    int reader = -1;
    const std::vector<TCase> cases = {
        {"FIFO nobody reads", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, false},
        {"FIFO with a reader",
         [&](const std::string& p) {
             ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
             reader = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             ASSERT_GE(reader, 0);
         },
         false},
        {"link to /dev/null", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/null", p.c_str()), 0); }, false},
        {"directory", [](const std::string& p) { ASSERT_TRUE(fs::create_directory(p)); }, false},
        {"missing file", [](const std::string&) {}, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = (dir_ / ("log" + std::to_string(&c - &cases[0]))).string();
        ASSERT_NO_FATAL_FAILURE(c.Make(file));
        module::TModuleErrorClass errors(file);
        EXPECT_TRUE(ReturnsInTime(
            [&] {
                errors.AddToLog(0, "first");
                errors.AddToLog(-1, "second");
            },
            {file}));
        const std::string memory = platform::Utf8FromCp1251(errors.Log->GetText());
        const std::string refused = "Файл \"" + file + "\" не записан: это не обычный файл.: 0";
        if (c.Written) {
            EXPECT_EQ(memory, "first: 0\r\nsecond: -1");
            std::string stored;
            EXPECT_TRUE(platform::ReadRegularFile(file, stored));
            EXPECT_EQ(stored, "first: 0\r\nsecond: -1\r\n");
        } else {
            EXPECT_EQ(memory, "first: 0\r\n" + refused + "\r\nsecond: -1");
        }
        if (reader >= 0) {
            char byte;
            EXPECT_EQ(::read(reader, &byte, 1), 0); // no writer ever opened it
            ::close(reader);
            reader = -1;
        }
    }
}
