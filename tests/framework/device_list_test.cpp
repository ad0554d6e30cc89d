#include <gtest/gtest.h>

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

TEST_F(DeviceListTest, ARoundTripOfCyrillicDevicesKeepsEveryByte) {
    TDeviceList list;
    Add(list, "Котельная №1"_cp, "КОТЁЛ"_cp, 1);
    Add(list, "Насосная «Юг»"_cp, "plc", 2);
    Add(list, "ÿ щ Ё"_cp, "plc", 3);
    const std::string first = dir.File("first.cfg");
    ASSERT_TRUE(list.SaveToFile(first));
    EXPECT_NE(ReadBytes(first).find("Котельная №1"_cp), std::string::npos);

    TDeviceList back;
    ASSERT_TRUE(back.LoadFromFile(first));
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(back.Device(1)->DeviceName, "Насосная «Юг»"_cp);
    EXPECT_EQ(back.Device(0)->RoutingPrefix, "КОТЁЛ"_cp);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(back.Device(i)->ListIndex, i);
    const std::string second = dir.File("second.cfg");
    ASSERT_TRUE(back.SaveToFile(second));
    EXPECT_EQ(ReadBytes(second), ReadBytes(first));
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

    driver.Unsavable = true;
    list.AddDevice();
    EXPECT_FALSE(list.SaveToFile(file));
    EXPECT_EQ(ReadBytes(file), old);
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
    // A user's file that root saves stays the user's, bits and all.
    ASSERT_EQ(::chown(target.c_str(), 1000, 1000), 0);
    std::filesystem::permissions(target, std::filesystem::perms(0640));
    std::filesystem::create_symlink(target, link);
    TDeviceList list;
    ASSERT_TRUE(list.SaveToFile(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(target), kEmptyFile);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(std::make_tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::make_tuple(1000u, 1000u, 0640u));
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
                {gone + "4.tmp", kFile, 0, true}}; // its writer may be alive in another pid namespace
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
