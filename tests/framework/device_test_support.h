// Helpers of the device, device list, driver and cycle tests: an error object that keeps what it is
// told, a real exchange area of the test's own namespace, files in a fresh folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/driver_error.h"
#include "framework/intercom.h"
#include "framework/tag_routing.h"
#include "intercom_test_support.h"
#include "platform/text.h"

namespace device_test {

class TRecordingErrors : public framework::TDriverErrorClass {
public:
    void WriteMessage(int32_t code, const std::string& text) override {
        Messages.emplace_back(code, text);
        framework::TDriverErrorClass::WriteMessage(code, text);
    }
    std::vector<std::pair<int32_t, std::string>> Messages;
};

// The process's error object for the life of the scope.
struct TErrorScope {
    TRecordingErrors Errors;
    TErrorScope() { framework::ErrorObj = &Errors; }
    ~TErrorScope() { framework::ErrorObj = nullptr; }
};

// The process's exchange area, in a namespace of the test's own, for the life of the scope.
struct TAreaScope {
    std::unique_ptr<framework::TIntercomInterface> Area;
    explicit TAreaScope(int32_t tags = 0) {
        intercom_test::UseOwnNamespace("devices");
        Area = framework::TIntercomInterface::Create(tags, "Quillary.dat");
        framework::Intercom = Area.get();
    }
    ~TAreaScope() { framework::Intercom = nullptr; }

    // The value of a dynamic entry, or -100 when there is no entry of that name.
    float DynamicValue(const std::string& name) const {
        for (int32_t i = 0; i < Area->DynemicVariablesList.GetCount(); ++i) {
            framework::TDynamicVariableEntry e{};
            if (Area->DynemicVariablesList.Read(i, e) && e.Name.Get() == platform::UpperCase(name))
                return e.Value;
        }
        return -100;
    }
};

// A fresh folder, removed with everything in it.
struct TTempDir {
    std::filesystem::path Path;
    TTempDir() {
        static int serial = 0;
        Path = std::filesystem::temp_directory_path() /
               ("quillary-devices-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(Path);
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(Path, ec);
    }
    std::string File(const std::string& name) const { return (Path / name).string(); }
};

inline std::string ReadBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Lines of a cp1251 text split at CR LF; diagnostics show them as UTF-8.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find("\r\n", from);
        if (at == std::string::npos) {
            lines.push_back(text.substr(from));
            return lines;
        }
        lines.push_back(text.substr(from, at - from));
        from = at + 2;
    }
}

} // namespace device_test
