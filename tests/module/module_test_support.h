// Helpers of the module tests: a namespace of their own, a host tag database file that the host
// variables library reads, an error object that keeps what is reported, and a host window.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/intercom_test_support.h"
#include "host/host_tag_database.h"
#include "host/host_tag_test_support.h"
#include "platform/messages.h"

namespace module_test {

class TCapturedErrors : public framework::TDriverErrorClass {
public:
    void WriteMessage(int32_t code, const std::string& text) override { Messages.emplace_back(code, text); }
    void WriteError(int32_t code, int32_t, const std::exception*) override {
        Messages.emplace_back(code, "error");
    }
    std::vector<std::pair<int32_t, std::string>> Messages;
};

using host_test::Tag;

// The process's error object and host tag database for one test, an exchange area on request.
class ModuleTest : public intercom_test::IntercomTest {
protected:
    ModuleTest() : IntercomTest("module") {}
    void SetUp() override {
        IntercomTest::SetUp();
        tagdb_ =
            (std::filesystem::temp_directory_path() / ("module-" + std::to_string(::getpid()) + ".tagdb"))
                .string();
        ::setenv("OSTROLINKA_TAGDB", tagdb_.c_str(), 1);
        framework::ErrorObj = &errors;
    }
    void TearDown() override {
        framework::Intercom = nullptr;
        area.reset();
        framework::ErrorObj = nullptr;
        std::remove(tagdb_.c_str());
        ::unsetenv("OSTROLINKA_TAGDB");
        IntercomTest::TearDown();
    }
    void WriteTags(const std::vector<host::THostTag>& tags) {
        ASSERT_TRUE(host::WriteHostTagDatabase(tagdb_, tags));
    }
    void CreateArea(int32_t count) {
        area = framework::TIntercomInterface::Create(count, "Quillary.dat");
        ASSERT_TRUE(area && area->IsOpen());
        framework::Intercom = area.get();
    }
    int32_t CountOf(int32_t code) const {
        int32_t n = 0;
        for (const auto& m : errors.Messages)
            n += m.first == code;
        return n;
    }

    TCapturedErrors errors;
    std::unique_ptr<framework::TIntercomInterface> area;

private:
    std::string tagdb_;
};

// A window of the test thread that records the value blocks it is sent and answers as told.
class THostWindow {
public:
    static constexpr platform::UINT kMessage = 0x0400 + 77;
    THostWindow() {
        Handle = platform::CreateWindowHandle([this](platform::HWND, platform::UINT msg, platform::WPARAM w,
                                                     platform::LPARAM l) -> platform::LRESULT {
            if (msg != kMessage) return 0;
            Calls += 1;
            WParam = w;
            const auto* block = reinterpret_cast<const unsigned char*>(l);
            int32_t count = 0;
            std::memcpy(&SourceId, block, 4);
            std::memcpy(&count, block + 4, 4);
            Blocks.emplace_back(block, block + 8 + 20 * static_cast<std::size_t>(count));
            return Answer;
        });
    }
    ~THostWindow() { platform::DestroyWindowHandle(Handle); }
    platform::HWND Handle = 0;
    platform::LRESULT Answer = 2002;
    int Calls = 0;
    platform::WPARAM WParam = 0;
    int32_t SourceId = 0;
    std::vector<std::vector<unsigned char>> Blocks;
};

// Entry i of a recorded block, read at its offsets.
struct TSentValue {
    int32_t VariableId;
    float Value;
    float OldValue;
    int32_t Time;
    int32_t Date;
};
inline TSentValue SentAt(const std::vector<unsigned char>& block, std::size_t i) {
    TSentValue v{};
    const unsigned char* p = block.data() + 8 + 20 * i;
    std::memcpy(&v.VariableId, p, 4);
    std::memcpy(&v.Value, p + 4, 4);
    std::memcpy(&v.OldValue, p + 8, 4);
    std::memcpy(&v.Time, p + 12, 4);
    std::memcpy(&v.Date, p + 16, 4);
    return v;
}
inline int32_t CountOfBlock(const std::vector<unsigned char>& block) {
    int32_t n = 0;
    std::memcpy(&n, block.data() + 4, 4);
    return n;
}

} // namespace module_test
