#include "hostapi/variables_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/host_tag_database.h"
#include "platform/text.h"

namespace {

// Fields of a record read at their offsets, apart from the struct that the library fills.
template <typename T> T At(const void* record, std::size_t offset) {
    T v;
    std::memcpy(&v, static_cast<const char*>(record) + offset, sizeof v);
    return v;
}
std::string TextAt(const void* record, std::size_t offset, std::size_t width) {
    const char* p = static_cast<const char*>(record) + offset;
    return std::string(p, strnlen(p, width));
}

host::THostTag Tag(int32_t id, const std::string& name, const std::string& routing, double value = 0) {
    host::THostTag t;
    t.Id = id;
    t.Name = name;
    t.Routing = routing;
    t.Value = value;
    return t;
}

class Mirandol : public ::testing::Test {
protected:
    void SetUp() override {
        file_ =
            (std::filesystem::temp_directory_path() / ("mirandol-" + std::to_string(::getpid()) + ".tagdb"))
                .string();
        ::setenv("OSTROLINKA_TAGDB", file_.c_str(), 1);
    }
    void TearDown() override {
        std::remove(file_.c_str());
        ::unsetenv("OSTROLINKA_TAGDB");
    }
    void Write(const std::vector<host::THostTag>& tags) {
        ASSERT_TRUE(host::WriteHostTagDatabase(file_, tags));
    }
    hostapi::TVLRoutingDomainInfo Domain(int32_t index) {
        hostapi::TVLRoutingDomainInfo d{};
        d.Size = sizeof d;
        EXPECT_EQ(VLGetRoutingDomainInfo(index, &d), 0);
        return d;
    }
    std::string file_;
};

TEST_F(Mirandol, VariableRecordCarriesTheTagAtItsOffsets) {
    host::THostTag t = Tag(42, "Давление"_cp, "PLC: DEVICE=3; ADDRESS=7", 12.5);
    t.Deadband = 0.5;
    t.Low = -10;
    t.High = 250;
    t.Divisor = 4;
    t.Kind = 3;
    t.TwoState = 1;
    Write({t});
    hostapi::TVLVariableInfo info;
    std::memset(&info, 0xCC, sizeof info);
    int32_t ignored = 0;
    ASSERT_EQ(VLGetVariableInfoById(42, &ignored, &info), 0);
    EXPECT_EQ(At<int32_t>(&info, 0), 42);
    EXPECT_EQ(TextAt(&info, 4, 41), "Давление"_cp);
    EXPECT_EQ(TextAt(&info, 45, 255), "PLC: DEVICE=3; ADDRESS=7");
    EXPECT_EQ(At<float>(&info, 656), 12.5f);
    EXPECT_EQ(At<uint8_t>(&info, 662), 3);
    EXPECT_EQ(At<float>(&info, 664), -10.0f);
    EXPECT_EQ(At<float>(&info, 668), 250.0f);
    EXPECT_EQ(At<float>(&info, 680), 0.5f);
    EXPECT_EQ(At<float>(&info, 684), 4.0f);
    EXPECT_EQ(At<int32_t>(&info, 729), 1);
    EXPECT_EQ(At<uint8_t>(&info, 760), 0); // nothing of an earlier content is left

    hostapi::TVLVariableInfo byName{};
    ASSERT_EQ(VLGetVariableInfoByName("Давление"_cp.c_str(), &ignored, &byName), 0);
    EXPECT_EQ(std::memcmp(&byName, &info, sizeof info), 0);
    EXPECT_NE(VLGetVariableInfoById(43, &ignored, &info), 0);
    EXPECT_NE(VLGetVariableInfoByName("Нет такого"_cp.c_str(), &ignored, &info), 0);
    EXPECT_NE(VLGetVariableInfoByName("x", nullptr, nullptr), 0);
}

TEST_F(Mirandol, DomainsAreTheRoutingPrefixesAsWrittenWithTheirVariablesInFileOrder) {
    Write({Tag(1, "a", "PLC: DEVICE=1; ADDRESS=1"), Tag(2, "b", "plc: DEVICE=1; ADDRESS=2"),
           Tag(3, "c", " PLC : DEVICE=2; ADDRESS=3"), Tag(4, "d", ""), Tag(5, "e", ":DEVICE=1"),
           Tag(6, "f", "OTHER: DEVICE=1; ADDRESS=1")});
    ASSERT_EQ(VLGetRoutingDomainNum(), 3);
    const hostapi::TVLRoutingDomainInfo plc = Domain(0);
    EXPECT_EQ(TextAt(&plc, 8, 255), "PLC");
    EXPECT_EQ(At<int32_t>(&plc, 263), 2);
    const hostapi::TVLRoutingDomainInfo lower = Domain(1);
    EXPECT_EQ(TextAt(&lower, 8, 255), "plc");
    const hostapi::TVLRoutingDomainInfo other = Domain(2);
    EXPECT_EQ(TextAt(&other, 8, 255), "OTHER");
    EXPECT_EQ(At<int32_t>(&other, 263), 1);

    hostapi::TVLVariableInfo info{};
    ASSERT_GE(VLGetVariableInfoByDomainId(plc.DomainId, 0, &info), 0);
    EXPECT_EQ(info.VariableId, 1);
    ASSERT_GE(VLGetVariableInfoByDomainId(plc.DomainId, 1, &info), 0);
    EXPECT_EQ(info.VariableId, 3);
    EXPECT_LT(VLGetVariableInfoByDomainId(plc.DomainId, 2, &info), 0);
    EXPECT_LT(VLGetVariableInfoByDomainId(plc.DomainId, -1, &info), 0);
    EXPECT_LT(VLGetVariableInfoByDomainId(12345, 0, &info), 0);

    hostapi::TVLRoutingDomainInfo bad{};
    bad.Size = 100;
    EXPECT_NE(VLGetRoutingDomainInfo(0, &bad), 0);
    bad.Size = sizeof bad;
    EXPECT_NE(VLGetRoutingDomainInfo(3, &bad), 0);
    EXPECT_NE(VLGetRoutingDomainInfo(-1, &bad), 0);
}

TEST_F(Mirandol, ListBlockHoldsEveryVariableAndIsReleased) {
    Write({Tag(7, "x", "PLC: DEVICE=1; ADDRESS=1", 1.5), Tag(9, "y", "", -2)});
    hostapi::VLHandle handle = nullptr;
    ASSERT_EQ(VLGetVariablesListByType(0, 0, 0, &handle), 0);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(At<int32_t>(handle, 4), 2);
    EXPECT_EQ(At<int32_t>(handle, 24), 7);
    EXPECT_EQ(At<float>(handle, 24 + 656), 1.5f);
    EXPECT_EQ(At<int32_t>(handle, 24 + 761), 9);
    EXPECT_EQ(TextAt(handle, 24 + 761 + 4, 41), "y");
    EXPECT_EQ(At<float>(handle, 24 + 761 + 656), -2.0f);
    EXPECT_EQ(VLFreeResource(&handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(VLFreeResource(&handle), 0);
}

TEST_F(Mirandol, AChangedOrMissingFileIsReadAgain) {
    Write({Tag(1, "a", "PLC: DEVICE=1; ADDRESS=1")});
    EXPECT_EQ(VLGetRoutingDomainNum(), 1);
    Write({Tag(1, "a", "PLC: DEVICE=1; ADDRESS=1"), Tag(2, "b", "PLC2: DEVICE=1; ADDRESS=1")});
    EXPECT_EQ(VLGetRoutingDomainNum(), 2);
    std::remove(file_.c_str());
    EXPECT_EQ(VLGetRoutingDomainNum(), 0);
    hostapi::TVLVariableInfo info{};
    EXPECT_NE(VLGetVariableInfoById(1, nullptr, &info), 0);
    hostapi::VLHandle handle = nullptr;
    ASSERT_EQ(VLGetVariablesListByType(0, 0, 0, &handle), 0);
    EXPECT_EQ(At<int32_t>(handle, 4), 0);
    VLFreeResource(&handle);
}

// The chooser is answered from inside its own modal loop: the row to pick, or -1 to cancel.
uint16_t Choose(int row, char* buffer) {
    if (QApplication::instance() == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "host_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    QTimer::singleShot(0, [row] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* list = dialog->findChild<QListWidget*>();
        if (list == nullptr || row < 0) return dialog->reject();
        list->setCurrentRow(row);
        dialog->accept();
    });
    return VLNavigatorDialog(0, buffer);
}

TEST_F(Mirandol, NavigatorAnswersThePickedNameInAZeroedBuffer) {
    const std::string longest(40, 'N');
    Write({Tag(1, "A1", "PLC: DEVICE=1; ADDRESS=1"), Tag(2, "Давление"_cp, ""), Tag(3, longest, "")});
    struct Case {
        int row;
        uint16_t result;
        std::string name;
    };
    for (const Case& c : {Case{1, 1, "Давление"_cp}, Case{2, 1, longest}, Case{-1, 0, ""}}) {
        char buffer[hostapi::kVLNavigatorBufferSize];
        std::memset(buffer, 0x7E, sizeof buffer);
        EXPECT_EQ(Choose(c.row, buffer), c.result) << c.row;
        EXPECT_EQ(std::string(buffer, strnlen(buffer, sizeof buffer)), c.name) << c.row;
        // Nothing of what the buffer held before is left behind the name.
        for (std::size_t i = c.name.size(); i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0) << c.row << " at " << i;
    }

    // A thread without the application gets no window and an empty name at once.
    char buffer[hostapi::kVLNavigatorBufferSize];
    std::memset(buffer, 0x7E, sizeof buffer);
    uint16_t result = 99;
    std::thread([&] { result = VLNavigatorDialog(0, buffer); }).join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[sizeof buffer - 1], 0);
    EXPECT_EQ(VLNavigatorDialog(0, nullptr), 0);
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// The font configuration library that the chooser's dialog loads keeps its caches to the end of the
// process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
