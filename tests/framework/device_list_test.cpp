#include <gtest/gtest.h>

#include <cstdio>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "device_test_support.h"
#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/xml_data_item.h"
#include "platform/child_process_support.h"
#include "platform/files.h"

using namespace framework;
using device_test::Lines;
using device_test::ReadBytes;
using device_test::TTempDir;
using device_test::WriteBytes;

namespace {

const char kEmptyFile[] =
    "<VELTRA ThreadOnPort=\"False\" ErrorMngrDisabled=\"False\" GeneralCommandInterval=\"6000\" "
    "AutoRunServer=\"-1\" CheckServerInterval=\"60\" RAPEnabled=\"False\" RAPPort=\"6042\" >\r\n"
    "</VELTRA>\r\n";

// A device whose session line cannot be written.
class TUnsavableDevice : public TDevice {
public:
    bool SaveToXml(int32_t, std::vector<std::string>&, std::string*) override { return false; }
};

class TTestDriver : public TDriver {
public:
    bool SupportsRemoteAccess() override { return RemoteAccess; }
    bool IsSingleDeviceMode() override { return SingleDevice; }
    std::unique_ptr<TDevice> CreateDevice() override {
        if (Unsavable) return std::make_unique<TUnsavableDevice>();
        return TDriver::CreateDevice();
    }
    bool RemoteAccess = false;
    bool SingleDevice = false;
    bool Unsavable = false;
};

// Settings at their initial values and a driver object of the test's own.
class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ThreadOnPort = false;
        ErrorMngrDisabled = false;
        GeneralCommandInterval = 6000;
        AutoRunServer = true;
        CheckServerInterval = 60;
        RAPEnabled = false;
        RAPPort = 6042;
        Driver = &driver;
    }
    void TearDown() override { Driver = nullptr; }

    TDevice* Add(TDeviceList& list, const std::string& name, const std::string& prefix, int32_t address) {
        TDevice* d = list.AddDevice()->Device.get();
        d->Properties->SetProperty("DeviceName", name, TPropertyType::Text);
        d->Properties->SetProperty("RoutingPrefix", prefix, TPropertyType::Text);
        d->Properties->SetProperty("DeviceAddress", std::to_string(address), TPropertyType::Integer);
        d->ApplyProperties();
        return d;
    }

    std::string Root(const std::string& attributes, const std::string& content = "") {
        return "<VELTRA " + attributes + ">" + content + "</VELTRA>";
    }

    TTestDriver driver;
    TTempDir dir;
};

} // namespace

TEST_F(DeviceListTest, AnEmptyListWritesTheRootLineAndTheClosingLine) {
    TDeviceList list;
    const std::string file = dir.File("Quillary.cfg");
    ASSERT_TRUE(list.SaveToFile(file));
    EXPECT_EQ(ReadBytes(file), kEmptyFile);
}

TEST_F(DeviceListTest, SettingsAreWrittenInTheirFixedOrderAndForms) {
    ThreadOnPort = true;
    ErrorMngrDisabled = true;
    GeneralCommandInterval = -5;
    AutoRunServer = false;
    CheckServerInterval = 0;
    RAPEnabled = true;
    RAPPort = 65535;
    TDeviceList list;
    const std::string file = dir.File("a.cfg");
    ASSERT_TRUE(list.SaveToFile(file));
    EXPECT_EQ(Lines(ReadBytes(file))[0],
              "<VELTRA ThreadOnPort=\"True\" ErrorMngrDisabled=\"True\" GeneralCommandInterval=\"-5\" "
              "AutoRunServer=\"0\" CheckServerInterval=\"0\" RAPEnabled=\"True\" RAPPort=\"65535\" >");
}

TEST_F(DeviceListTest, EachDeviceIsAnElementAroundItsSessionLine) {
    TDeviceList list;
    list.AddDevice();
    const std::string file = dir.File("a.cfg");
    ASSERT_TRUE(list.SaveToFile(file));
    std::vector<std::string> session;
    ASSERT_TRUE(list.Device(0)->SaveToXml(6, session));
    const auto lines = Lines(ReadBytes(file));
    ASSERT_EQ(lines.size(), 6u); // five lines and the empty rest after the last CR LF
    EXPECT_EQ(lines[1], "   <device>");
    EXPECT_EQ(lines[2], session[0]);
    EXPECT_EQ(lines[3], "   </device>");
    EXPECT_EQ(lines[4], "</VELTRA>");
    EXPECT_EQ(lines[5], "");
}

// What a list holds for the file: the driver settings and every device's properties in order.
std::vector<std::string> Settings(const TDeviceList& list) {
    std::vector<std::string> all = {
        std::to_string(ThreadOnPort) + std::to_string(ErrorMngrDisabled) + std::to_string(AutoRunServer) +
        " " + std::to_string(GeneralCommandInterval) + " " + std::to_string(CheckServerInterval)};
    for (int32_t i = 0; i < list.Count(); ++i)
        for (int32_t k = 0; k < list.Device(i)->Properties->Count(); ++k) {
            const TDeviceProperty* p = list.Device(i)->Properties->Property(k);
            all.push_back(std::to_string(i) + " " + p->Name + "=" + p->Value);
        }
    return all;
}

TEST_F(DeviceListTest, WhatASaveWritesLoadsBackToTheSameSettingsAndSavesToTheSameBytes) {
    // Values a hand may write in either quote; each device of the file holds one.
    const std::string longName = std::string(1030, 'x') + "\"" + std::string(10, 'y');
    const struct {
        std::string session;
        std::string name; // the device's name as read
    } cases[] = {
        {"DeviceName='Pump \"A\"'", "Pump \"A\""},
        {"DeviceName=\"it's\" RoutingPrefix='\"'", "it's"},
        {"DeviceName=\"a&amp;b; c=d\"", "a&amp;b; c=d"},
        {"DeviceName=\"\ta\tb\t\" TimeOut=\"250\"", "\ta\tb\t"},
        {"DeviceName=\"Котельная №1 «Юг» ÿ\" RoutingPrefix=\"КОТЁЛ\""_cp, "Котельная №1 «Юг» ÿ"_cp},
        {"DeviceName=\"\" Enabled=\"0\"", ""},
        {"DeviceName='" + longName + "'", longName.substr(0, 255)},
    };
    std::string devices;
    for (const auto& c : cases)
        devices += "<device><session " + c.session + "/></device >\r\n";
    const std::string hand = dir.File("hand.cfg"), first = dir.File("first.cfg"),
                      second = dir.File("second.cfg");
    // Closing tags may hold blanks before their ">".
    std::string text = Root("AutoRunServer=\"0\" GeneralCommandInterval=\"$10\"", devices);
    WriteBytes(hand, text.insert(text.size() - 1, "\r\n"));
    TDeviceList list, back;
    ASSERT_TRUE(list.LoadFromFile(hand));
    ASSERT_EQ(list.Count(), static_cast<int32_t>(std::size(cases)));
    for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.Device(i)->DeviceName, cases[i].name) << i;
    const std::vector<std::string> read = Settings(list);
    ASSERT_TRUE(list.SaveToFile(first));
    ASSERT_TRUE(back.LoadFromFile(first)) << back.LoadFromFile(first).Reason;
    EXPECT_EQ(Settings(back), read);
    ASSERT_TRUE(back.SaveToFile(second));
    EXPECT_EQ(ReadBytes(second), ReadBytes(first));
    EXPECT_NE(ReadBytes(first).find(" DeviceName='Pump \"A\"' "), std::string::npos);
}

TEST_F(DeviceListTest, ALoadNamesWhatItTookByDefaultAndStillReads) {
    const std::string many = [] {
        std::string a;
        for (int i = 0; i < 150; ++i)
            a += " q" + std::to_string(i) + "=''";
        return a;
    }();
    const struct {
        std::string root;    // attributes of the root
        std::string session; // attributes of the one device's session
        std::vector<std::string> noted;
        std::size_t count = noted.size();
        bool remote = false; // a driver that reads the remote-access pair
        bool read = true;    // false: the file is refused
    } cases[] = {
        {"", "DeviceName=\"Pump A\" DeviceAddress=\"7\" Enabled=\"FALSE\"", {}}, // missing ones are silent
        // No link of the base list reads IPPort.
        {"",
         "DeviceName='Pump A' Enable=\"FALSE\" DeviceAdress=\"7\" Enabled='FLASE' TimeOut=\"2OO\" "
         "PINGTimeOut=\"x\" ICMPOnConnect=\"maybe\" IPPort=\"p\" DeviceName=\"B\"",
         {"устройство №1 «Pump A»: атрибут Enable=\"FALSE\" ничего не задает и пропущен",
          "устройство №1 «Pump A»: атрибут DeviceAdress=\"7\" ничего не задает и пропущен",
          "устройство №1 «Pump A»: атрибут DeviceName=\"B\" ничего не задает и пропущен",
          "устройство №1 «Pump A»: значение TimeOut=\"2OO\" не читается, взято 1000",
          "устройство №1 «Pump A»: значение Enabled=\"FLASE\" не читается, взято False",
          "устройство №1 «Pump A»: значение PINGTimeOut=\"x\" не читается, взято 500",
          "устройство №1 «Pump A»: значение ICMPOnConnect=\"maybe\" не читается, взято False"}},
        // Shown on one line, cut, in the quote a save would write.
        {"",
         "DeviceName='a\r\nb' " + std::string(50, 'e') + "='" + std::string(50, 'v') + "' TimeOut='\"'",
         {"устройство №1 «a  b»: атрибут " + std::string(40, 'e') + "...=\"" + std::string(40, 'v') +
              "...\" ничего не задает и пропущен",
          "устройство №1 «a  b»: значение TimeOut='\"' не читается, взято 1000"}},
        // A later session wins where it sets a setting again.
        {"",
         "DeviceName=\"Pump A\" Enabled=\"False\" /><session Enabled='True' /><session DeviceName=\"B\"",
         {"устройство №1 «B»: атрибут Enabled=\"False\" пропущен: его снова задает последующий элемент "
          "session",
          "устройство №1 «B»: атрибут DeviceName=\"Pump A\" пропущен: его снова задает последующий элемент "
          "session"}},
        // A device that stops the load names itself too.
        {"",
         "DeviceName=\"Pump A\" Foo=\"1\" /> stray <session",
         {"устройство №1 «Pump A»: атрибут Foo=\"1\" ничего не задает и пропущен"},
         1,
         false,
         false},
        {"DeviceName=\"P\"" + many,
         "",
         {"настройки драйвера: атрибут DeviceName=\"P\" ничего не задает и пропущен"},
         151},
        {"ThreadOnPOrt=\"True\" GeneralCommandInterval=\"6OOO\" AutoRunServer=\"yes\" RAPPort=\"x\" "
         "AutoRunServer=\"0\"",
         "",
         {"настройки драйвера: атрибут ThreadOnPOrt=\"True\" ничего не задает и пропущен",
          "настройки драйвера: значение GeneralCommandInterval=\"6OOO\" не читается, взято 6000",
          "настройки драйвера: значение AutoRunServer=\"yes\" не читается, взято True",
          "настройки драйвера: атрибут AutoRunServer=\"0\" ничего не задает и пропущен"}},
        {"RAPPort=\"70000\"",
         "",
         {"настройки драйвера: значение RAPPort=\"70000\" не читается, взято 6042"},
         1,
         true},
    };
    const std::string file = dir.File("Quillary.cfg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root + c.session);
        driver.RemoteAccess = c.remote;
        WriteBytes(file, Root(c.root, "<device><session " + c.session + " /></device>"));
        TDeviceList list;
        const TConfigLoad load = list.LoadFromFile(file);
        ASSERT_TRUE(load.Read == c.read && list.Count() == (c.read ? 1 : 0));
        std::vector<std::string> noted;
        for (const std::string& note : c.noted)
            noted.push_back(platform::Cp(note));
        // Past what is kept, notes are only counted.
        const std::size_t kept = std::min(c.count, TLoadNotes::kKept);
        ASSERT_EQ(load.Defaulted.Kept.size(), kept);
        EXPECT_EQ(std::vector(load.Defaulted.Kept.begin(), load.Defaulted.Kept.begin() + noted.size()),
                  noted);
        EXPECT_EQ(load.Defaulted.Count, c.count);
    }
}

TEST_F(DeviceListTest, BooleanSettingsReadBothWordsAndNumbers) {
    AutoRunServer = false;
    const std::string file = dir.File("a.cfg");
    WriteBytes(file, Root("ThreadOnPort=\"-1\" ErrorMngrDisabled=\"true\" AutoRunServer=\"-1\" "));
    TDeviceList list;
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_TRUE(ThreadOnPort);
    EXPECT_TRUE(ErrorMngrDisabled);
    EXPECT_TRUE(AutoRunServer);

    WriteBytes(file, Root("AutoRunServer=\"0\" ThreadOnPort=\"False\""));
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_FALSE(AutoRunServer);
    EXPECT_FALSE(ThreadOnPort);
}

TEST_F(DeviceListTest, MissingAttributesGiveTheDefaultsNotTheCurrentValues) {
    ThreadOnPort = true;
    GeneralCommandInterval = 1;
    AutoRunServer = false;
    CheckServerInterval = 5;
    const std::string file = dir.File("a.cfg");
    WriteBytes(file, "<VELTRA/>");
    TDeviceList list;
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_FALSE(ThreadOnPort);
    EXPECT_EQ(GeneralCommandInterval, 6000);
    EXPECT_TRUE(AutoRunServer);
    EXPECT_EQ(CheckServerInterval, 60);
}

TEST_F(DeviceListTest, RemoteAccessSettingsAreReadOnlyWhenTheDriverSupportsThem) {
    const std::string file = dir.File("a.cfg");
    WriteBytes(file, Root("RAPEnabled=\"True\" RAPPort=\"70000\""));
    TDeviceList list;
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_FALSE(RAPEnabled);
    EXPECT_EQ(RAPPort, 6042);

    driver.RemoteAccess = true;
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_TRUE(RAPEnabled);
    EXPECT_EQ(RAPPort, 6042); // not 70000's low 16 bits: that would be another port

    for (const char* port : {"-1", "65536", "4294967296"}) {
        WriteBytes(file, Root(std::string("RAPPort=\"") + port + "\""));
        ASSERT_TRUE(list.LoadFromFile(file));
        EXPECT_EQ(RAPPort, 6042) << port;
    }
    WriteBytes(file, Root("RAPPort=\"65535\""));
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_EQ(RAPPort, 65535);

    // Missing, they keep what they were.
    WriteBytes(file, Root(""));
    ASSERT_TRUE(list.LoadFromFile(file));
    EXPECT_TRUE(RAPEnabled);
    EXPECT_EQ(RAPPort, 65535);
}

TEST_F(DeviceListTest, AFileThatIsNotOneRootOfTheRightNameLoadsEmptyAndChangesNoSetting) {
    TDeviceList list;
    const std::string file = dir.File("a.cfg");
    const auto rejects = [&](const std::string& text) {
        list.AddDevice();
        GeneralCommandInterval = 1;
        WriteBytes(file, text);
        const bool loaded = list.LoadFromFile(file).Read;
        return !loaded && list.Count() == 0 && GeneralCommandInterval == 1;
    };
    EXPECT_TRUE(rejects(""));
    EXPECT_TRUE(rejects("<Veltra GeneralCommandInterval=\"7\"/>"));
    EXPECT_TRUE(rejects("<VELTRA GeneralCommandInterval=\"7\"/><VELTRA/>"));
    EXPECT_TRUE(rejects("<VELTRA GeneralCommandInterval=\"7\"/> trailing"));
    EXPECT_TRUE(rejects("<VELTRA GeneralCommandInterval=7 />"));
    EXPECT_TRUE(rejects("<VELTRA GeneralCommandInterval=\"7\">"));
    EXPECT_TRUE(rejects("not xml at all"));

    list.AddDevice();
    EXPECT_FALSE(list.LoadFromFile(dir.File("missing.cfg")));
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(DeviceListTest, ADeviceWithEmptyContentEmptiesTheWholeList) {
    const std::string file = dir.File("a.cfg");
    WriteBytes(file, Root("", "<device><session DeviceName=\"A\"/></device><device></device>"
                              "<device><session DeviceName=\"C\"/></device>"));
    TDeviceList list;
    EXPECT_FALSE(list.LoadFromFile(file));
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(DeviceListTest, AForeignElementAfterGoodDevicesKeepsThemButFails) {
    const std::string file = dir.File("a.cfg");
    WriteBytes(file, Root("GeneralCommandInterval=\"900\"",
                          "<DEVICE><session DeviceName=\"A\"/></DEVICE><thing/><device><session/></device>"));
    TDeviceList list;
    EXPECT_FALSE(list.LoadFromFile(file));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Device(0)->DeviceName, "A");
    EXPECT_EQ(GeneralCommandInterval, 900);

    // Text that holds no element fails the read and leaves nothing, as the module always did.
    WriteBytes(file, Root("", "<device><session DeviceName=\"A\"/></device> stray"));
    EXPECT_FALSE(list.LoadFromFile(file));
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(DeviceListTest, DevicesNestedBeyondTheReadersLimitFailTheLoad) {
    const std::string file = dir.File("a.cfg");
    TDeviceList list;
    for (const int depth : {kMaxElementNesting, kMaxElementNesting + 1}) {
        std::string nested = "<device><session/>";
        for (int i = 1; i < depth; ++i)
            nested += "<device>";
        for (int i = 0; i < depth; ++i)
            nested += "</device>";
        WriteBytes(file, Root("", nested));
        // Within the limit the outer device reads its session, the inner ones are passed over.
        EXPECT_EQ(list.LoadFromFile(file).Read, depth <= kMaxElementNesting) << depth;
        EXPECT_EQ(list.Count(), depth <= kMaxElementNesting ? 1 : 0) << depth;
    }
}

TEST_F(DeviceListTest, LoadedRecordsStartTheirTimesNow) {
    const std::string file = dir.File("a.cfg");
    WriteBytes(file, Root("", "<device><session/></device>"));
    TDeviceList list;
    const platform::TDateTime before = platform::Now();
    ASSERT_TRUE(list.LoadFromFile(file));
    const platform::TDateTime after = platform::Now();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_GE(list.Record(0)->LastPoll, before);
    EXPECT_LE(list.Record(0)->LastPoll, after);
    EXPECT_EQ(list.Record(0)->Interval, 0);
    EXPECT_EQ(list.Record(0)->Duration, 0);
}

TEST_F(DeviceListTest, AFailedSaveLeavesTheOldFileWhole) {
    TDeviceList list;
    Add(list, "Old", "plc", 1);
    const std::string file = dir.File("Quillary.cfg");
    ASSERT_TRUE(list.SaveToFile(file));
    const std::string old = ReadBytes(file);

    // A text no read would take back is not written, nor a value no quote can hold (the reader knows
    // no escapes) or one that would open a comment; a device that cannot be written names itself. The
    // second device is one: a text past the bound stops before it.
    const std::pair<std::string, std::string> cases[] = {
        {std::string(platform::kMaxFileSize, 'x'),
         "его текст больше 67108864 байт, а такой файл не читается"},
        {"Old 'a' \"b\"", "устройство №1 «Old»: значение DeviceName содержит кавычки обоих видов"},
        {"Old <!-- a", "устройство №1 «Old»: значение DeviceName содержит начало комментария <!--"},
        {"Old", "устройство №2 «New device»: его описание не составлено"},
    };
    driver.Unsavable = true;
    list.AddDevice();
    std::string why;
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(reason);
        list.Device(0)->Properties->SetProperty("DeviceName", name, TPropertyType::Text);
        EXPECT_FALSE(list.SaveToFile(file, &why));
        EXPECT_EQ(why, "Файл \""_cp + file + "\" не записан: "_cp + platform::Cp(reason) + ".");
        EXPECT_EQ(ReadBytes(file), old);
    }
    // Nothing is left behind beside it.
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path), std::filesystem::directory_iterator()),
        1);

    EXPECT_FALSE(list.SaveToFile(dir.File("no/such/folder/Quillary.cfg")));
}

TEST_F(DeviceListTest, SavingThroughALinkReplacesTheFileItPointsTo) {
    const std::string target = dir.File("real.cfg");
    const std::string link = dir.File("Quillary.cfg");
    WriteBytes(target, "old");
    // A user's file that root saves stays the user's, bits and all; only root gives a file away.
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(root ? ::chown(target.c_str(), 1000, 1000) : 0, 0);
    std::filesystem::permissions(target, std::filesystem::perms(0640));
    std::filesystem::create_symlink(target, link);
    TDeviceList list;
    ASSERT_TRUE(list.SaveToFile(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(target), kEmptyFile);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // The rest is a row only root runs; skipping it is said so that the test is not taken for skipped.
    if (!root) return (void)std::printf("row not run: not root, no file of another owner to save\n");
    EXPECT_EQ(std::make_tuple(st.st_uid, st.st_gid), std::make_tuple(1000u, 1000u));
}

// A save takes away what a killed save of the same file left, and nothing else; a temporary name left
// taken by a writer of our pid (a restarted container's) makes it take the next.
TEST_F(DeviceListTest, ASaveRemovesOnlyWhatAKilledSaveLeft) {
    const std::string file = dir.File("Quillary.cfg"), pid = std::to_string(::getpid());
    TDeviceList list;
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.Path.c_str(), IN_CREATE), 0);
    ASSERT_TRUE(list.SaveToFile(file));
    alignas(inotify_event) char events[4096];
    ASSERT_GT(::read(watch, events, sizeof events), 0);
    ::close(watch);
    // The temporary file that save used; the next save's name has the serial after it.
    const std::string used = reinterpret_cast<const inotify_event*>(events)->name,
                      prefix = "Quillary.cfg." + pid + "-";
    const std::string next = prefix + std::to_string(std::stoi(used.substr(prefix.size())) + 1) + ".tmp";
    const pid_t dead = testchild::FreedPid();
    ASSERT_GT(dead, 0);
    const std::string gone = "Quillary.cfg." + std::to_string(dead) + "-";
    enum TKind { kFile, kLink };
    const struct {
        std::string name;
        TKind kind;
        int minutes; // since it was last written
        bool stays;
    } rows[] = {{"Quillary.cfg.20240115-1.tmp", kFile, 11, true}, // the user's own, of a date
                {gone + "1.tmp", kLink, 11, true},
                {next, kFile, 11, true},
                {gone + "3.tmp", kFile, 11, false},
                {gone + "4.tmp", kFile, 0, true}, // its writer may be alive in another pid namespace
                // No pid is written with a leading zero: this names no writer of ours.
                {"Quillary.cfg.0" + std::to_string(dead) + "-2.tmp", kFile, 11, true}};
    WriteBytes(dir.File("pointed"), "the link's");
    for (const auto& r : rows) {
        const std::string path = dir.File(r.name);
        if (r.kind == kFile) WriteBytes(path, "half a save");
        if (r.kind == kLink) std::filesystem::create_symlink(dir.File("pointed"), path);
        const timespec then{::time(nullptr) - 60 * r.minutes, 0}, times[2] = {then, then};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    EXPECT_TRUE(list.SaveToFile(file));
    for (const auto& r : rows)
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(dir.File(r.name))), r.stays)
            << r.name;
    EXPECT_EQ(ReadBytes(dir.File("pointed")), "the link's");
}

TEST_F(DeviceListTest, AssignMakesNewDevicesWithTheSourcesSettings) {
    TDeviceList source;
    Add(source, "A", "plc", 1);
    Add(source, "B", "plc", 2);
    source.Device(1)->ListIndex = 1;
    source.Device(1)->LinkUp = true;

    TDeviceList copy;
    copy.AddDevice();
    copy.Assign(&source);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_NE(copy.Device(1), source.Device(1));
    EXPECT_EQ(copy.Device(1)->DeviceName, "B");
    EXPECT_EQ(copy.Device(1)->ListIndex, 1);
    EXPECT_FALSE(copy.Device(1)->LinkUp);
    EXPECT_EQ(copy.Connection, nullptr);

    copy.Assign(nullptr);
    EXPECT_EQ(copy.Count(), 2);
}

TEST_F(DeviceListTest, FindDeviceIgnoresLetterCaseButNotBlanks) {
    TDeviceList list;
    Add(list, "spaced", " ABC", 1);
    Add(list, "other", "ABC", 2);
    Add(list, "upper", "ABC", 1);
    ASSERT_NE(list.FindDevice("abc", 1), nullptr);
    EXPECT_EQ(list.FindDevice("abc", 1)->Device->DeviceName, "upper");
    EXPECT_EQ(list.FindDevice("abc", 3), nullptr);
    EXPECT_EQ(list.FindDevice(" abc", 1)->Device->DeviceName, "spaced");
    EXPECT_EQ(list.FindDevice("котёл"_cp, 1), nullptr);
}

TEST_F(DeviceListTest, PendingCommandDeviceNamesTheDeviceOfAPublishedBatch) {
    TDeviceList list;
    Add(list, "A", "plc", 3);
    Add(list, "B", " Plc ", 4);
    EXPECT_EQ(list.PendingCommandDevice(), -1); // no exchange area

    device_test::TAreaScope area;
    TCommandsList& commands = area.Area->CommandsList;
    TCommandRecord command{};
    command.Device = 4;
    commands.SetDeviceName("plc");
    ASSERT_TRUE(commands.Add(command));
    EXPECT_EQ(list.PendingCommandDevice(), -1); // not published yet
    ASSERT_TRUE(commands.Publish());
    EXPECT_EQ(list.PendingCommandDevice(), 1);

    commands.SetDeviceName("other");
    EXPECT_EQ(list.PendingCommandDevice(), -1);
    driver.SingleDevice = true;
    EXPECT_EQ(list.PendingCommandDevice(), 0);
    commands.SetFlag(csTaken);
    EXPECT_EQ(list.PendingCommandDevice(), -1);
}

TEST_F(DeviceListTest, ABaseListHasNoConnection) {
    TDeviceList list;
    TDevicePropertyList properties;
    properties.InitProperties();
    EXPECT_EQ(list.CreateConnection(&properties), nullptr);
    EXPECT_TRUE(list.CloseConnection());
    TOstrolinkaConnection* none = nullptr;
    EXPECT_TRUE(list.FreeConnection(none));
}
