#include "host/host_tag_database.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/text.h"

using namespace host;

namespace {

struct TTempFile {
    std::string Path;
    TTempFile() {
        static int serial = 0;
        Path = (std::filesystem::temp_directory_path() /
                ("quillary-tagdb-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                   .string();
    }
    ~TTempFile() { std::remove(Path.c_str()); }
    void Write(const std::string& text) const { ASSERT_TRUE(ReplaceFileWhole(Path, text)); }
};

TEST(HostTagLine, EveryFieldReadsBackAsWritten) {
    THostTag t;
    t.Id = 17;
    t.Name = "Насос_1"_cp;
    t.Routing = "PLC: DEVICE=3; ADDRESS=40001";
    t.Value = -12.25;
    t.Deadband = 0.5;
    t.Low = -100;
    t.High = 1e6;
    t.Divisor = 10;
    t.Kind = 1;
    t.TwoState = 1;
    THostTag back;
    std::string reason;
    ASSERT_TRUE(ParseHostTagLine(FormatHostTagLine(t), back, reason)) << reason;
    EXPECT_EQ(back.Id, 17);
    EXPECT_EQ(back.Name, t.Name);
    EXPECT_EQ(back.Routing, t.Routing); // the ";" and "=" of a routing text stay inside its field
    EXPECT_EQ(back.Value, t.Value);
    EXPECT_EQ(back.Deadband, 0.5);
    EXPECT_EQ(back.Low, -100);
    EXPECT_EQ(back.High, 1e6);
    EXPECT_EQ(back.Divisor, 10);
    EXPECT_EQ(back.Kind, 1);
    EXPECT_EQ(back.TwoState, 1);
}

TEST(HostTagLine, KeysInAnyCaseMissingFieldsZeroAndValuesThatAreNoNumbers) {
    THostTag t;
    std::string reason;
    ASSERT_TRUE(ParseHostTagLine("ID=3\tName= LOCK \tVALUE=nan\r", t, reason)) << reason;
    EXPECT_EQ(t.Name, "LOCK");
    EXPECT_TRUE(std::isnan(t.Value));
    EXPECT_EQ(t.High, 0);
    ASSERT_TRUE(ParseHostTagLine("id=4\tname=X\tvalue=-inf", t, reason));
    EXPECT_TRUE(std::isinf(t.Value) && t.Value < 0);
}

TEST(HostTagLine, BadLinesSayWhyAndCommentsAreNoEntries) {
    THostTag t;
    std::string reason;
    for (const char* bad : {"name=X", "id=1", "id=-1\tname=X", "id=1\tname=X\tvalue=1,5",
                            "id=1\tname=X\tcolour=red", "id=1\tname=X\tid=2", "id=1\tname=X\tkind=256",
                            "id=1\tname=X\tvalue", "id=1\tname=12345678901234567890123456789012345678901"}) {
        EXPECT_FALSE(ParseHostTagLine(bad, t, reason)) << bad;
        EXPECT_FALSE(reason.empty()) << bad;
    }
    for (const char* none : {"", "   ", "# id=1\tname=X"}) {
        EXPECT_FALSE(ParseHostTagLine(none, t, reason));
        EXPECT_TRUE(reason.empty());
    }
}

TEST(HostTagDatabase, ReadsTheFileAgainOnlyWhenItChanged) {
    TTempFile file;
    file.Write("# host tags\nid=1\tname=A\tvalue=1\n\nid=2\tname=B\tvalue=2\n");
    THostTagDatabase db(file.Path);
    EXPECT_TRUE(db.Refresh());
    ASSERT_EQ(db.Tags().size(), 2u);
    EXPECT_EQ(db.FindByName("b")->Id, 2);
    EXPECT_EQ(db.FindById(1)->Name, "A");
    EXPECT_EQ(db.FindById(3), nullptr);
    EXPECT_FALSE(db.Refresh());

    file.Write("id=1\tname=A\tvalue=5\n");
    EXPECT_TRUE(db.Refresh());
    EXPECT_EQ(db.FindById(1)->Value, 5);
    EXPECT_EQ(db.FindById(2), nullptr);

    // Versions of one size written back to back are all seen, though the file clock is coarse and
    // inode numbers come back.
    for (int i = 0; i < 20; ++i) {
        file.Write("id=1\tname=A\tvalue=" + std::to_string(i % 10) + "\n");
        ASSERT_TRUE(db.Refresh()) << i;
        EXPECT_EQ(db.FindById(1)->Value, i % 10);
    }

    std::remove(file.Path.c_str());
    EXPECT_TRUE(db.Refresh());
    EXPECT_TRUE(db.Tags().empty());
}

TEST(HostTagDatabase, SkipsBadAndRepeatedLinesAndKeepsTheRest) {
    TTempFile file;
    file.Write("id=1\tname=A\nid=x\tname=B\nid=1\tname=C\nid=3\tname=a\nid=4\tname=D\n");
    THostTagDatabase db(file.Path);
    db.Refresh();
    ASSERT_EQ(db.Tags().size(), 2u);
    EXPECT_EQ(db.Tags()[1].Name, "D");
    ASSERT_EQ(db.Problems().size(), 3u);
    EXPECT_EQ(db.Problems()[0].rfind("line 2: ", 0), 0u);
}

TEST(HostTagDatabase, WrittenWholeAndFoundThroughTheEnvironment) {
    TTempFile file;
    THostTag a;
    a.Id = 9;
    a.Name = "LOCK";
    a.Value = 1;
    ASSERT_TRUE(WriteHostTagDatabase(file.Path, {a}));
    THostTagDatabase db(file.Path);
    db.Refresh();
    ASSERT_EQ(db.Tags().size(), 1u);
    EXPECT_EQ(db.Tags()[0].Value, 1);
    EXPECT_FALSE(WriteHostTagDatabase("/nonexistent-dir/x.tagdb", {a}));

    ::setenv("OSTROLINKA_TAGDB", file.Path.c_str(), 1);
    EXPECT_EQ(HostTagDatabaseFile(), file.Path);
    ::unsetenv("OSTROLINKA_TAGDB");
    const std::string beside = HostTagDatabaseFile();
    EXPECT_EQ(std::filesystem::path(beside).filename(), "Ostrolinka.tagdb");
    EXPECT_EQ(std::filesystem::path(beside).parent_path(),
              std::filesystem::canonical("/proc/self/exe").parent_path());
}

// The library as the device threads load it.
class TagLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("QUILLARY_BIN");
        handle = ::dlopen((std::string(bin ? bin : ".") + "/libVantorel.so").c_str(), RTLD_NOW);
        ASSERT_NE(handle, nullptr) << ::dlerror();
        byName = reinterpret_cast<decltype(byName)>(::dlsym(handle, "API_GetTagInfoByName"));
        byIndex = reinterpret_cast<decltype(byIndex)>(::dlsym(handle, "API_GetTagValueByGlobalIndex"));
        ASSERT_TRUE(byName && byIndex);
        ::setenv("OSTROLINKA_TAGDB", file.Path.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("OSTROLINKA_TAGDB");
        if (handle) ::dlclose(handle);
    }
    template <class T> static T Get(const unsigned char* rec, std::size_t off) {
        T v;
        std::memcpy(&v, rec + off, sizeof v);
        return v;
    }

    TTempFile file;
    void* handle = nullptr;
    int32_t (*byName)(const char*, void*) = nullptr;
    int32_t (*byIndex)(int32_t, void*) = nullptr;
};

TEST_F(TagLibrary, AnswersFromTheDatabaseAndFollowsItsChanges) {
    file.Write("id=42\tname=LOCK3\trouting=PLC: DEVICE=3; ADDRESS=1\tvalue=1\tlow=-5\thigh=5\n");
    unsigned char info[3702] = {};
    const int32_t size = sizeof info;
    std::memcpy(info, &size, 4);
    ASSERT_EQ(byName("lock3", info), 0);
    EXPECT_EQ(Get<int32_t>(info, 0), 3702);
    EXPECT_EQ(Get<int32_t>(info, 3670), 42);
    EXPECT_STREQ(reinterpret_cast<const char*>(info + 8), "LOCK3");
    EXPECT_STREQ(reinterpret_cast<const char*>(info + 264), "PLC: DEVICE=3; ADDRESS=1");
    EXPECT_EQ(Get<double>(info, 544), 5.0);
    EXPECT_NE(byName("OTHER", info), 0);

    unsigned char value[44] = {};
    const int32_t vsize = sizeof value;
    std::memcpy(value, &vsize, 4);
    ASSERT_EQ(byIndex(42, value), 0);
    EXPECT_EQ(Get<double>(value, 12), 1.0);
    file.Write("id=42\tname=LOCK3\tvalue=0\n");
    ASSERT_EQ(byIndex(42, value), 0);
    EXPECT_EQ(Get<double>(value, 12), 0.0);
    EXPECT_NE(byIndex(43, value), 0);
}

TEST_F(TagLibrary, RefusesRecordsWithoutTheirSize) {
    file.Write("id=1\tname=A\n");
    unsigned char info[3702] = {};
    EXPECT_NE(byName("A", info), 0);
    unsigned char value[44] = {};
    EXPECT_NE(byIndex(1, value), 0);
    EXPECT_NE(byName(nullptr, info), 0);
}

} // namespace
