// The entry points' answers in every state of the module, the identity record, and what the
// initialisation builds, as a host that loaded Quillary.dlm sees them.
#include "dlm_test_support.h"
#include "platform/child_process_support.h"
#include "platform/names.h"
#include "platform/private_shm.h"

namespace dlmtest {
namespace {

using intercom_test::TRawBlock;

struct TModuleOnShm {
    char Skip[160];
    int32_t Init;
    bool Reported;
    bool Named;
};

// A /dev/shm with room for the exchange area but not for the window table: the module loaded and
// initialised there by a host that could make no window.
int RunModuleOnPrivateShm() {
    char dir[1024] = {};
    if (!testchild::Read(testchild::ChildIn, dir)) return 1;
    TModuleOnShm out{};
    const std::string why = privateshm::Enter(768 * 1024, false);
    if (!why.empty()) {
        why.copy(out.Skip, sizeof out.Skip - 1);
        return testchild::Write(testchild::ChildOut, out) ? 0 : 2;
    }
    TModule module;
    if (!module.Load(fs::path(dir) / "Quillary.dlm")) return 3;
    TInitRecord record{};
    std::memcpy(record.Directory, dir, std::strlen(dir));
    out.Init = module.Init(record);
    out.Reported = WaitFor(
        [&] {
            return ReadText(fs::path(dir) / "module.log").find("DLM::IntercomInterface not initialized!") !=
                   std::string::npos;
        },
        5000);
    out.Named = fs::exists("/dev/shm/" + platform::NamespacedName("Quillary.dat"));
    module.Stop();
    module.Done();
    return testchild::Write(testchild::ChildOut, out) ? 0 : 2;
}

const bool registered = testchild::RegisterTestChild("module-on-private-shm", RunModuleOnPrivateShm);

// Devices that no server is started for: the answers and the area are all that is looked at.
class DlmExports : public DlmTest {
protected:
    void Prepare(const std::vector<std::string>& sessions = {}) {
        WriteConfig(ConfigText(sessions, 60, 6000, false));
        ASSERT_NO_FATAL_FAILURE(Load());
    }
};

// Without room for the window table the module makes no exchange area and goes on as without one,
// saying so as it does then.
TEST_F(DlmExports, WithoutRoomForTheWindowTableTheModuleGoesOnWithoutAnArea) {
    ASSERT_FALSE(registered);
    WriteConfig(ConfigText({}, 60, 6000, false));
    testchild::TestChild child("module-on-private-shm");
    ASSERT_TRUE(child.Started());
    char dir[1024] = {};
    dir_.string().copy(dir, sizeof dir - 1);
    ASSERT_TRUE(child.Send(dir));
    TModuleOnShm out{};
    ASSERT_TRUE(child.Receive(out));
    if (out.Skip[0] != '\0') GTEST_SKIP() << "no private /dev/shm for this test: " << out.Skip;
    EXPECT_EQ(out.Init, 0);
    EXPECT_TRUE(out.Reported) << Log();
    EXPECT_FALSE(out.Named);
    ASSERT_TRUE(child.WaitExited(testchild::DeadlineMs));
    EXPECT_EQ(child.Reap(), 0);
}

TEST_F(DlmExports, AnswersBeforeInitialisationAndAfterShutdown) {
    ASSERT_NO_FATAL_FAILURE(Prepare());
    // Not supported and "writes nothing", whatever the state.
    EXPECT_EQ(module.Sinhronize(5), -7);
    EXPECT_EQ(module.Read(1, 2), -7);
    EXPECT_EQ(module.GetErrorStr(1, 2, 3), 0);

    EXPECT_EQ(module.Run(), -5);
    EXPECT_EQ(module.Stop(), -5);
    const unsigned char junk[20] = {};
    EXPECT_EQ(module.Write(junk, sizeof junk), -5);
    EXPECT_EQ(module.Write(nullptr, 20), -5);
    EXPECT_FALSE(fs::exists(LogPath())) << "nothing is logged before initialisation";
    // A null record is refused rather than written through.
    EXPECT_EQ(module.GetDeviceInfo(nullptr), -6);

    // Shutting down an uninitialised module still frees the driver object.
    EXPECT_EQ(module.Done(), -5);
    TIdentity identity;
    EXPECT_EQ(module.GetDeviceInfo(&identity), -1);
    EXPECT_EQ(module.GetDeviceInfo(nullptr), -1);
    EXPECT_EQ(module.Init(Record()), -1);
    EXPECT_EQ(module.Done(), -1);
    // The setup would edit the freed driver object: it answers False without a window.
    auto setup = reinterpret_cast<bool (*)(platform::HWND)>(::dlsym(module.Handle, "DLMSetupDeviceDrv"));
    ASSERT_NE(setup, nullptr);
    EXPECT_FALSE(setup(0));
    EXPECT_EQ(module.Sinhronize(0), -7);
    EXPECT_EQ(module.Read(0, 0), -7);
    EXPECT_FALSE(AreaExists());
    module.Handle = nullptr;
}

TEST_F(DlmExports, IdentityRecordCarriesThePrefixListOnlyAfterInitialisation) {
    WriteTags({Tag(1, "A1", "A: DEVICE=1; ADDRESS=1"), Tag(2, "A2", "A: DEVICE=2; ADDRESS=1"),
               Tag(3, "B1", "B: DEVICE=1; ADDRESS=1"), Tag(4, "OTHER", "C: DEVICE=1; ADDRESS=1")});
    ASSERT_NO_FATAL_FAILURE(
        Prepare({"DeviceAddress=\"1\" RoutingPrefix=\"a\"", "DeviceAddress=\"1\" RoutingPrefix=\"B\"",
                 "DeviceAddress=\"2\" RoutingPrefix=\"A\""}));
    TIdentity before;
    std::memset(&before, 0xEE, sizeof before);
    ASSERT_EQ(module.GetDeviceInfo(&before), 0);
    EXPECT_EQ(before.PrefixList[0], 0);
    const int32_t ints[6] = {-1, -1, -1, -1, 100, 100};
    EXPECT_EQ(std::memcmp(before.Ints, ints, sizeof ints), 0);
    EXPECT_NE(before.Title[0], 0);

    ASSERT_EQ(module.Init(Record()), 0);
    TIdentity after;
    std::memset(&after, 0xEE, sizeof after);
    ASSERT_EQ(module.GetDeviceInfo(&after), 0);
    EXPECT_STREQ(after.PrefixList, "A::B:");
    // Everything else byte for byte as before, the rest of the prefix field zero.
    EXPECT_EQ(std::memcmp(&before, &after, offsetof(TIdentity, PrefixList)), 0);
    for (std::size_t i = std::strlen(after.PrefixList); i < sizeof after.PrefixList; ++i)
        ASSERT_EQ(after.PrefixList[i], 0) << i;

    // The area holds the three variables of the two domains, each domain loaded once.
    auto reader = std::make_unique<TRawBlock>();
    TRawBlock& area = *reader;
    ASSERT_TRUE(OpenArea(area));
    EXPECT_EQ(area.Size(), intercom_test::Total(3));
    for (std::size_t region : {intercom_test::kStatus, intercom_test::kSlots, intercom_test::kStatic,
                               intercom_test::Dynamic(3), intercom_test::Commands(3)})
        EXPECT_TRUE(area.IsStamp(region)) << region;
    EXPECT_EQ(area.I32(intercom_test::kStatic + 256), 3);
    // Loaded twice, domain A would have reported each of its variables as a duplicate address.
    EXPECT_EQ(LogCount(": -2\r\n"), 0) << Log();
    EXPECT_EQ(area.Short(intercom_test::kStatus + 256), std::string(before.Title));
    EXPECT_EQ(area.Short(intercom_test::kStatus + 256 + 256 + 1), "A::B:");
    EXPECT_EQ(area.I32(intercom_test::kStatus + 256 + 256 + 1 + 256 + 4), static_cast<int32_t>(host->Handle));
    // Initialised: state 1, then the thread's states; the slot is cleared for a new server.
    EXPECT_GE(area.U8(intercom_test::kStatus + 256 + 256), 1);
    EXPECT_EQ(SlotPid(), 0);
    reader.reset();

    // A second full initialisation changes nothing.
    EXPECT_EQ(module.Init(Record()), -4);
    TIdentity again;
    ASSERT_EQ(module.GetDeviceInfo(&again), 0);
    EXPECT_EQ(std::memcmp(&after, &again, sizeof again), 0);
    EXPECT_EQ(module.Run(), 0);
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    EXPECT_FALSE(AreaExists());
    module.Handle = nullptr;
}

TEST_F(DlmExports, WritesAreCheckedAndQueuedOnlyWhenInitialised) {
    WriteTags({Tag(1, "A1", "A: DEVICE=1; ADDRESS=1"), Tag(2, "A2", "A: DEVICE=1; ADDRESS=2")});
    ASSERT_NO_FATAL_FAILURE(Prepare({"DeviceAddress=\"1\" RoutingPrefix=\"A\""}));
    ASSERT_EQ(module.Init(Record()), 0);

    EXPECT_EQ(module.Write(nullptr, 20), -6);
    const auto empty = WriteBlock({});
    EXPECT_EQ(module.Write(empty.data(), 0), -6);
    ASSERT_TRUE(WaitFor([&] { return LogCount(std::string("Ошибка в параметрах функции.") + ": -6") == 2; }))
        << Log();
    // A variable that is not bound gives -6 while the bound ones are queued: the batch that
    // nobody takes (no server) shows them in the command region.
    const auto block = WriteBlock({{1, 5.0f, 1.0f, 0, 0}, {99, 1.0f, 0.0f, 0, 0}, {2, 6.0f, 2.0f, 0, 0}});
    EXPECT_EQ(module.Write(block.data(), static_cast<int32_t>(block.size())), -6);
    TRawBlock area;
    ASSERT_TRUE(OpenArea(area));
    const std::size_t commands = intercom_test::Commands(2);
    ASSERT_TRUE(WaitFor([&] { return area.U8(commands + 532) == 1; })) << Log();
    EXPECT_EQ(area.I32(commands + 528), 2);
    EXPECT_EQ(area.Short(commands + 256), "A");
    EXPECT_EQ(area.I32(commands + 536), 1);
    EXPECT_EQ(area.I32(commands + 536 + 532), 2);
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// The host may initialise for the configuration alone first; the full initialisation after it
// builds the module anew (what the first one made is freed: the sanitizer build checks for leaks).
TEST_F(DlmExports, ConfigurationOnlyThenFullInitialisation) {
    WriteTags({Tag(1, "A1", "A: DEVICE=1; ADDRESS=1")});
    ASSERT_NO_FATAL_FAILURE(Prepare({"DeviceAddress=\"1\" RoutingPrefix=\"A\""}));
    ASSERT_EQ(module.Init(Record(true)), 0);
    EXPECT_FALSE(AreaExists());
    TIdentity identity;
    ASSERT_EQ(module.GetDeviceInfo(&identity), 0);
    EXPECT_STREQ(identity.PrefixList, "A:");
    EXPECT_EQ(module.Run(), -5);
    EXPECT_EQ(module.Stop(), -5);
    const unsigned char junk[28] = {};
    EXPECT_EQ(module.Write(junk, sizeof junk), -5);

    ASSERT_EQ(module.Init(Record()), 0);
    EXPECT_TRUE(AreaExists());
    EXPECT_EQ(module.Run(), 0);
    EXPECT_EQ(module.Init(Record(true)), -4);
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

// A directory field without its terminating zero is read as cut at its width.
TEST_F(DlmExports, ADirectoryWithoutItsZeroIsCut) {
    ASSERT_NO_FATAL_FAILURE(Prepare());
    TInitRecord record = Record();
    std::memset(record.Directory, 'x', sizeof record.Directory);
    record.ConfigOnly = 0xFF; // right after the field: must not be read as part of it
    ASSERT_EQ(module.Init(record), 0);
    TIdentity identity;
    ASSERT_EQ(module.GetDeviceInfo(&identity), 0);
    EXPECT_STREQ(identity.PrefixList, "");
    EXPECT_FALSE(AreaExists());
    EXPECT_EQ(module.Done(), -5);
    module.Handle = nullptr;
}

// Without a configuration file the module still comes up: no devices, an empty prefix list, an
// area with room for no static tag, and a running thread.
TEST_F(DlmExports, AMissingConfigurationLeavesAnEmptyButRunningModule) {
    WriteTags({Tag(1, "A1", "A: DEVICE=1; ADDRESS=1")});
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_EQ(module.Init(Record()), 0);
    EXPECT_EQ(LogCount("Конфигурационный файл не найден.: 0"), 1) << Log();
    TIdentity identity;
    ASSERT_EQ(module.GetDeviceInfo(&identity), 0);
    EXPECT_STREQ(identity.PrefixList, "");
    TRawBlock area;
    ASSERT_TRUE(OpenArea(area));
    EXPECT_EQ(area.Size(), intercom_test::Total(0));
    EXPECT_EQ(area.I32(intercom_test::kStatic + 256), 0);
    const int32_t first = Ticks(area);
    EXPECT_TRUE(WaitFor([&] { return Ticks(area) - first >= 3; })) << "the thread runs";
    EXPECT_EQ(module.Run(), 0);
    EXPECT_EQ(module.Stop(), 0);
    EXPECT_EQ(module.Done(), 0);
    module.Handle = nullptr;
}

} // namespace
} // namespace dlmtest
