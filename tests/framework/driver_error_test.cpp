#include "framework/driver_error.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/text.h"

using namespace framework;

TEST(TerminalData, LinesAreJoinedWithCrLf) {
    TTerminalDataClass log;
    EXPECT_EQ(log.GetText(), "");
    log.AddLine("a");
    log.AddLine("b");
    EXPECT_EQ(log.GetText(), "a\r\nb");
    log.Clear();
    EXPECT_EQ(log.GetText(), "");
    log.AddLine("Опрос"_cp);
    EXPECT_EQ(log.GetText(), "Опрос"_cp);
}

TEST(TerminalData, ALineThatDoesNotFitIsDroppedWhole) {
    TTerminalDataClass log;
    log.AddLine(std::string(40950, 'x'));
    ASSERT_EQ(log.GetText().size(), 40950u);
    log.AddLine("1234567"); // 40950 + 9 + 2 would reach 40961
    EXPECT_EQ(log.GetText().size(), 40950u);
    log.AddLine("123456"); // 40950 + 8 + 2 = 40960 still fits
    EXPECT_EQ(log.GetText().size(), 40958u);
    EXPECT_EQ(log.GetText().substr(40950), "\r\n123456");
    log.AddLine("");
    EXPECT_EQ(log.GetText().size(), 40958u); // even the bare CR LF no longer fits
}

TEST(TerminalData, FirstLineLimitAndZeroBytes) {
    TTerminalDataClass log;
    log.AddLine(std::string(40959, 'y')); // 40959 + 2 = 40961 is not below the buffer size
    EXPECT_EQ(log.GetText(), "");
    log.AddLine(std::string(40958, 'y'));
    EXPECT_EQ(log.GetText().size(), 40958u);
    TTerminalDataClass cut;
    cut.AddLine(std::string("ab\0cd", 5)); // the text ends at its first zero
    cut.AddLine("e");
    EXPECT_EQ(cut.GetText(), "ab\r\ne");
    cut.AddLine(std::string("f\0", 2) + std::string(40950, 'z')); // judged whole, not at its zero
    EXPECT_EQ(cut.GetText(), "ab\r\ne");
}

TEST(FormatLogData, TwoUpperCaseHexDigitsPerByte) {
    EXPECT_EQ(FormatLogData(std::string("\x01\x0A", 2)), "(01)(0A)");
    EXPECT_EQ(FormatLogData(""), "");
    EXPECT_EQ(FormatLogData(std::string("\x00\xFF\xab", 3)), "(00)(FF)(AB)");
}

TEST(ErrorTexts, KnownCodesAndTheGeneralText) {
    TDriverErrorClass errors;
    std::string text;
    errors.GetErrorText(-9, 17, text);
    EXPECT_EQ(text, "Ошибка CRC в ответе устройства 17."_cp);
    errors.GetErrorText(-11, -3, text);
    EXPECT_EQ(text, "Ошибка протокола. Код ошибка -3."_cp);
    errors.GetErrorText(0, 5, text);
    EXPECT_EQ(text, "Успешное выполнение операции."_cp);
    errors.GetErrorText(-13, 4, text);
    EXPECT_EQ(text, "Панель 4 не отвечает"_cp);
    const std::string general = "Общая незарегистрированная ошибка драйвера."_cp;
    for (int code : {-1, -16, -20, -21, -22, -25, -32, -40, 1, 100}) {
        errors.GetErrorText(code, 0, text);
        EXPECT_EQ(text, general) << code;
    }
    for (int code : {-2, -3, -4, -5, -6, -7, -8, -10, -12, -14, -15, -24, -31}) {
        errors.GetErrorText(code, 0, text);
        EXPECT_NE(text, general) << code;
    }
}

TEST(ErrorObject, WhatIsLoggedAndWhatIsNot) {
    TDriverErrorClass errors;
    errors.WriteError(0, 0, nullptr);
    EXPECT_EQ(errors.Log->GetText(), "");
    errors.WriteMessage(0, "x");
    EXPECT_EQ(errors.Log->GetText(), "x: 0");
    errors.WriteError(-9, 17, nullptr);
    EXPECT_EQ(errors.Log->GetText(), "x: 0\r\n"_cp + "Ошибка CRC в ответе устройства 17.: -9"_cp);
    Exception e("Сбой"_cp);
    errors.WriteError(0, 0, &e); // an exception is reported even with code 0
    EXPECT_EQ(errors.Log->GetText().substr(errors.Log->GetText().rfind('\n') + 1), "Сбой: 0"_cp);
    errors.Log->Clear();
    errors.Enabled = false;
    errors.WriteMessage(-1, "y");
    errors.WriteError(-9, 1, nullptr);
    EXPECT_EQ(errors.Log->GetText(), "");
}

// The process-wide report and the trace line go nowhere, and do not fail, where there is no error
// object or no log.
TEST(ErrorObject, ReportAndTraceLinesNeedSomethingToWriteTo) {
    TDriverErrorClass* const saved = ErrorObj;
    ErrorObj = nullptr;
    Report(kErrReported, "lost");
    AddLog(nullptr, "lost");
    TDriverErrorClass errors;
    ErrorObj = &errors;
    Report(kErrReported, "kept");
    ErrorObj = saved;
    EXPECT_EQ(errors.Log->GetText(), "kept: -1");
}

namespace {

// A log window on a thread of its own, as the module's log window is to the device threads.
class LogWindowThread {
public:
    LogWindowThread() {
        thread_ = std::thread([this] {
            const platform::HWND wnd =
                platform::CreateWindowHandle([this](platform::HWND, platform::UINT msg, platform::WPARAM w,
                                                    platform::LPARAM l) -> platform::LRESULT {
                    if (msg != WM_DRIVERERROR) return 0;
                    // The record lives on the sender's stack: it is read during the call.
                    const auto* rec = reinterpret_cast<const TDriverErrorRecord*>(l);
                    std::lock_guard<std::mutex> guard(lock_);
                    wParams.push_back(w);
                    records.push_back(*rec);
                    ownerThread = std::this_thread::get_id();
                    return 0;
                });
            {
                std::lock_guard<std::mutex> guard(lock_);
                handle_ = wnd;
            }
            ready_.notify_all();
            while (!stop_)
                platform::WaitMessages(20);
            platform::DestroyWindowHandle(wnd);
        });
        std::unique_lock<std::mutex> guard(lock_);
        ready_.wait(guard, [this] { return handle_ != 0; });
    }
    ~LogWindowThread() {
        stop_ = true;
        thread_.join();
    }
    platform::HWND Handle() const { return handle_; }
    std::thread::id ThreadId() const { return thread_.get_id(); }

    std::mutex lock_;
    std::vector<platform::WPARAM> wParams;
    std::vector<TDriverErrorRecord> records;
    std::thread::id ownerThread;

private:
    std::condition_variable ready_;
    platform::HWND handle_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

TEST(ErrorObject, RecordReachesTheLogWindowOfAnotherThreadBeforeTheCallReturns) {
    LogWindowThread window;
    LogWindowHandle = window.Handle();
    TDriverErrorClass errors;
    const double before = platform::Now();
    errors.WriteError(-9, 17, nullptr);
    const std::string longText(2000, 'z');
    errors.WriteMessage(-1, longText);
    LogWindowHandle = 0;
    errors.WriteMessage(-1, "no window"); // nothing is sent without a window

    std::lock_guard<std::mutex> guard(window.lock_);
    ASSERT_EQ(window.records.size(), 2u); // synchronous: both were handled before WriteMessage returned
    EXPECT_EQ(window.ownerThread, window.ThreadId());
    EXPECT_EQ(window.wParams[0], 2222u);

    const auto& first = window.records[0];
    const auto* raw = reinterpret_cast<const unsigned char*>(&first);
    int32_t size = 0, code = 0, zero = -1;
    double time = 0;
    std::memcpy(&size, raw + 0, 4);
    std::memcpy(&zero, raw + 4, 4);
    std::memcpy(&time, raw + 8, 8);
    std::memcpy(&code, raw + 16, 4);
    EXPECT_EQ(size, 1048);
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(code, -9);
    EXPECT_GE(time, before - 1e-6);
    EXPECT_LE(time, platform::Now() + 1e-6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 20)), "Ошибка CRC в ответе устройства 17."_cp);
    for (int i = 1045; i < 1048; ++i)
        EXPECT_EQ(raw[i], 0);

    const auto& second = window.records[1];
    EXPECT_EQ(second.Code, -1);
    EXPECT_EQ(std::strlen(second.Text), 1024u); // the record carries 1024 characters
    EXPECT_EQ(second.Text[1024], '\0');
    // while the log keeps the whole message
    EXPECT_NE(errors.Log->GetText().find(longText + ": -1"), std::string::npos);
}
