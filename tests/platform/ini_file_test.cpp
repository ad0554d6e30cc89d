#include "platform/ini_file.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace platform;

namespace {

// A settings file written byte for byte into a private temporary folder.
class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ini_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::remove(Path().c_str());
        rmdir(dir_.c_str());
    }
    std::string Path() const { return dir_ + "/Quillary.ini"; }
    TIniFile Write(const std::string& bytes) {
        std::ofstream(Path(), std::ios::binary) << bytes;
        return TIniFile(Path());
    }

    std::string dir_;
};

} // namespace

TEST_F(IniFileTest, SectionsAndKeysIgnoreLetterCaseIncludingCyrillic) {
    const TIniFile ini = Write("[Debugger]\r\nImitator=1\r\n[Отладка]\r\nЧастота=25\r\n"_cp);
    EXPECT_EQ(ini.ReadString("debugger", "IMITATOR", "x"), "1");
    EXPECT_EQ(ini.ReadInteger("DEBUGGER", "imitator", 7), 1);
    EXPECT_EQ(ini.ReadInteger("оТЛАДКА"_cp, "ЧАСТОТА"_cp, 0), 25);
    EXPECT_EQ(ini.ReadInteger("Отладка"_cp, "Imitator", -3), -3); // keys belong to their own section
}

TEST_F(IniFileTest, FirstMatchWins) {
    const TIniFile ini = Write("[dlm]\nkey=first\nKEY=second\nother=1\n[DLM]\nkey=third\nlate=5\n");
    EXPECT_EQ(ini.ReadString("DLM", "key", ""), "first");
    // Only the first section of a name is searched.
    EXPECT_EQ(ini.ReadString("dlm", "late", "none"), "none");
}

TEST_F(IniFileTest, ValuesAndNamesAreTrimmedAndLoseOnePairOfQuotes) {
    const TIniFile ini = Write("  [ server ]  \r\n"
                               "\t delay_on_start \t=\t 3000 \t\r\n"
                               "a=\"  quoted  \"\n"
                               "b='single'\n"
                               "c=\"mixed'\n"
                               "d=\"\"inner\"\"\n"
                               "e=\"\n"
                               "f=\n"
                               "g = x = y\n");
    EXPECT_EQ(ini.ReadInteger("server", "delay_on_start", 0), 3000);
    EXPECT_EQ(ini.ReadString("server", "a", ""), "  quoted  ");
    EXPECT_EQ(ini.ReadString("server", "b", ""), "single");
    EXPECT_EQ(ini.ReadString("server", "c", ""), "\"mixed'");
    EXPECT_EQ(ini.ReadString("server", "d", ""), "\"inner\"");
    EXPECT_EQ(ini.ReadString("server", "e", ""), "\"");
    EXPECT_EQ(ini.ReadString("server", "f", "def"), ""); // present but empty is not missing
    EXPECT_EQ(ini.ReadInteger("server", "f", 42), 42);
    EXPECT_EQ(ini.ReadString("server", "g", ""), "x = y");
}

TEST_F(IniFileTest, CommentsAndStrayLinesAreIgnored) {
    const TIniFile ini = Write("orphan=1\n"
                               "; [ports]\n"
                               "[ports]\n"
                               ";COM1=/dev/null\n"
                               "   ; COM2=/dev/zero\n"
                               "no equals sign\n"
                               "=nameless\n"
                               "COM3=/dev/ttyUSB0 ; not a comment here\n"
                               "COM4=/dev/ttyUSB1");
    EXPECT_EQ(ini.ReadString("", "orphan", "-"), "-");
    EXPECT_EQ(ini.ReadString("ports", "COM1", "-"), "-");
    EXPECT_EQ(ini.ReadString("ports", "COM2", "-"), "-");
    EXPECT_EQ(ini.ReadString("ports", "no equals sign", "-"), "-");
    EXPECT_EQ(ini.ReadString("ports", "", "-"), "-");
    EXPECT_EQ(ini.ReadString("ports", "COM3", ""), "/dev/ttyUSB0 ; not a comment here");
    EXPECT_EQ(ini.ReadString("ports", "com4", ""), "/dev/ttyUSB1"); // last line without a line end
}

TEST_F(IniFileTest, IntegersFollowTheIntegerTextRules) {
    const TIniFile ini =
        Write("[debugger]\nhex=$10\nneg=-25\nplus=+7\nabc=abc\nc=0x10\nbig=2147483648\nsp=1 2\n");
    EXPECT_EQ(ini.ReadInteger("debugger", "hex", 0), 16);
    EXPECT_EQ(ini.ReadInteger("debugger", "neg", 0), -25);
    EXPECT_EQ(ini.ReadInteger("debugger", "plus", 0), 7);
    EXPECT_EQ(ini.ReadInteger("debugger", "abc", -1), -1);
    EXPECT_EQ(ini.ReadInteger("debugger", "c", -1), -1);
    EXPECT_EQ(ini.ReadInteger("debugger", "big", -1), -1);
    EXPECT_EQ(ini.ReadInteger("debugger", "sp", -1), -1);
}

TEST_F(IniFileTest, BooleansAreIntegers) {
    const TIniFile ini = Write("[debugger]\nimitator=2\noff=0\nword=True\nneg=-1\n");
    EXPECT_TRUE(ini.ReadBool("debugger", "imitator", false));
    EXPECT_FALSE(ini.ReadBool("debugger", "off", true));
    EXPECT_TRUE(ini.ReadBool("debugger", "neg", false));
    // Not an integer: the default, in both directions.
    EXPECT_TRUE(ini.ReadBool("debugger", "word", true));
    EXPECT_FALSE(ini.ReadBool("debugger", "word", false));
    EXPECT_TRUE(ini.ReadBool("debugger", "missing", true));
}

TEST_F(IniFileTest, MissingOrUnreadableFilesBehaveAsEmpty) {
    for (const std::string& name : {Path() + ".absent", dir_, std::string(), std::string("a\0b", 3)}) {
        const TIniFile ini(name);
        EXPECT_EQ(ini.ReadString("DLM", "Thread_Delay_Time", "d"), "d") << name;
        EXPECT_EQ(ini.ReadInteger("DLM", "Thread_Delay_Time", 100), 100) << name;
    }
    // A FIFO must not block the reader.
    const std::string fifo = dir_ + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(TIniFile(fifo).ReadInteger("DLM", "x", 9), 9);
    std::remove(fifo.c_str());
}

TEST_F(IniFileTest, FileIsReadOnceAtConstruction) {
    const TIniFile ini = Write("[DLM]\nThread_Delay_Time=50\n");
    std::ofstream(Path(), std::ios::binary | std::ios::trunc) << "[DLM]\nThread_Delay_Time=70\n";
    EXPECT_EQ(ini.ReadInteger("DLM", "Thread_Delay_Time", 0), 50);
    EXPECT_EQ(TIniFile(Path()).ReadInteger("DLM", "Thread_Delay_Time", 0), 70);
}

TEST_F(IniFileTest, BytesOutsideAsciiAreKeptAsStored) {
    const std::string raw = "[s]\nname=\xC8\xEC\xFF \x98\xFF\n";
    const TIniFile ini = Write(raw);
    EXPECT_EQ(ini.ReadString("S", "NAME", ""), "\xC8\xEC\xFF \x98\xFF");
}
