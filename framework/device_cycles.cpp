// Members of `TDevice` (declared in framework/device.h): the poll and command cycles of a device
// and its connect and disconnect exchanges: the order of the steps, the retries, the closing rules,
// the link-state update and every trace line. The protocol only fills the hooks.
#include <exception>
#include <functional>

#include "framework/connection.h"
#include "framework/device.h"
#include "framework/device_list.h"
#include "framework/driver.h"
#include "framework/driver_error.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace framework {

namespace {

using platform::IntToStr;

std::string NoConnectionObjectText() {
    return "Ошибка при создании класса доступа к устройству."_cp;
}
std::string OpenFailedText() {
    return "Ошибка установки соединения с устройством."_cp;
}

std::string WithNumber(std::string format, int64_t value) {
    const std::size_t at = format.find("%d");
    if (at != std::string::npos) format.replace(at, 2, IntToStr(value));
    return format;
}

std::string RejectedText(int32_t index, int32_t code, std::size_t length) {
    return "!!!Invalid received data!. Index = " + IntToStr(index) + " Code = " + IntToStr(code) +
           " Length = " + IntToStr(length);
}

bool WroteAll(int32_t written, const std::string& frame) {
    return written >= 0 && static_cast<std::size_t>(written) >= frame.size();
}

// Makes the list's connection object when it has none; false when there is no list or none was made.
bool HasConnectionObject(TDeviceList* list, TDevicePropertyList* properties) {
    if (list != nullptr && list->Connection == nullptr)
        list->Connection = list->CreateConnection(properties).release();
    return list != nullptr && list->Connection != nullptr;
}

// The link closes after a cycle when its kind says so.
void CloseAfterCycle(TDeviceList* list, TTerminalDataClass* log) {
    TOstrolinkaConnection* c = list != nullptr ? list->Connection : nullptr;
    if (c != nullptr && c->IsOpen() && c->CloseAfterPoll()) c->Close(log);
}

std::string PollAnswerPrefix(std::size_t length) {
    return "Read from device: Length=" + IntToStr(length) + " ";
}

// Runs the end steps of a cycle each in turn, so that a failing step does not skip the link-state
// update; the first exception goes on to the caller afterwards.
class TEndSteps {
public:
    template <class F> void Run(F step) {
        try {
            step();
        } catch (...) {
            if (!first_) first_ = std::current_exception();
        }
    }
    void Finish() {
        if (first_) std::rethrow_exception(first_);
    }

private:
    std::exception_ptr first_;
};

// What one cycle does at the steps of the request-answer loop; the loop is the same for all four.
// Every failure closes the link; a hook left empty has nothing to log at its step.
struct TExchange {
    // Builds request i; an empty frame ends the loop.
    std::function<void(int32_t i, std::string& frame, bool& needAnswer)> Build;
    uint8_t Channel = kPollChannel;                    // of the data lines
    std::function<std::string(int32_t i)> FramePrefix; // data line of the sent frame
    std::function<std::string(int32_t written)> WriteFailureText;
    bool WriteFailureBeforeClose = false;             // the poll names a short write before it closes
    const char* WrittenText = nullptr;                // after a complete write
    std::function<int32_t(std::string& answer)> Read; // the answer, <= 0 when none came; empty: one read
    std::function<void()> NoAnswer;                   // after the link closed for a missing answer
    std::function<std::string(std::size_t length)> AnswerPrefix; // data line of the answer
    bool ParseWithoutAnswer = true;                              // a frame that wants no answer is parsed too
    // 0: accepted; negative: a driver error code. The answer may grow (rereading).
    std::function<int32_t(int32_t i, std::string& answer)> Parse;
    std::function<void(int32_t i, int32_t code, const std::string& answer)> Rejected; // after the link closed
};

// Sends request after request until the build hook gives no frame: true then. index ends at the
// request that ended the loop.
bool RunExchange(TDevice& device, TOstrolinkaConnection* connection, TTerminalDataClass* log,
                 const TExchange& steps, int32_t& index) {
    std::string frame;
    bool needAnswer = false;
    index = 0;
    for (steps.Build(index, frame, needAnswer); !frame.empty(); steps.Build(++index, frame, needAnswer)) {
        if (steps.FramePrefix) device.LogData(kLogSent, steps.Channel, log, frame, steps.FramePrefix(index));
        const int32_t written = connection->Write(frame, log);
        if (!WroteAll(written, frame)) {
            const std::string text = steps.WriteFailureText ? steps.WriteFailureText(written) : std::string();
            if (steps.WriteFailureBeforeClose) AddLog(log, text);
            connection->Close(log);
            if (steps.WriteFailureText && !steps.WriteFailureBeforeClose) AddLog(log, text);
            return false;
        }
        if (steps.WrittenText != nullptr) AddLog(log, steps.WrittenText);
        std::string answer;
        const auto read = [&] {
            return steps.Read ? steps.Read(answer) : connection->Read(device.TimeOut, answer, log);
        };
        if (needAnswer && read() <= 0) {
            connection->Close(log);
            if (steps.NoAnswer) steps.NoAnswer();
            return false;
        }
        if (!needAnswer && !steps.ParseWithoutAnswer) continue;
        if (steps.AnswerPrefix)
            device.LogData(kLogReceived, steps.Channel, log, answer, steps.AnswerPrefix(answer.size()));
        const int32_t r = steps.Parse(index, answer);
        if (r < 0) {
            connection->Close(log);
            if (steps.Rejected) steps.Rejected(index, r, answer);
            return false;
        }
    }
    return true;
}

} // namespace

bool TDevice::PrepareConnection(TDeviceList* list, TTerminalDataClass* openLog) {
    TOstrolinkaConnection*& connection = list->Connection;
    bool replace = connection == nullptr || !connection->IsOpen();
    if (!replace && (connection->SettingsChanged(Properties.get()) ||
                     !list->ConnectionFits(*connection, Properties.get()))) {
        connection->Close(PollLog.get());
        replace = true;
    }
    if (!replace) return true;
    list->FreeConnection(connection);
    connection = list->CreateConnection(Properties.get()).release();
    // A factory that makes nothing leaves the device without a link: not open.
    if (connection == nullptr) return false;
    connection->Open(openLog);
    return connection->IsOpen();
}

bool TDevice::Poll(TDeviceList* list, TReceiveVariables* received) {
    TTerminalDataClass* log = PollLog.get();
    ClearPollLog();
    PollStartTick = static_cast<int64_t>(platform::GetTickCount());
    pollStartMs_ = platform::MonotonicMs();
    bool connected = false;
    bool success = false;

    TEndSteps end;
    end.Run(
        [&] { success = ImitatorEnabled ? PollImitator(received) : PollDevice(list, received, connected); });
    end.Run([&] {
        if (connected && list->Connection != nullptr) {
            AddLog(log, "");
            AddLog(log, "DICSONNECTING -----------");
            DisconnectProcedure(kCycleMode, list->Connection, log, received);
        }
    });
    end.Run([&] { CloseAfterCycle(list, log); });
    LastDuration = static_cast<int64_t>(platform::MonotonicMs() - pollStartMs_);
    LastResult = success;
    end.Run([&] { UpdateLinkState(success); });
    end.Run([&] {
        AddLog(log, WithNumber(success ? "Запрос обработан. Время обработки: %d"_cp
                                       : "Ошибка доступа к устройству. Время обработки: %d"_cp,
                               LastDuration));
        AddLog(log, "---- END DATA READING.... ----");
    });
    end.Finish();
    return success;
}

bool TDevice::PollImitator(TReceiveVariables* received) {
    Imitate(received, PollLog.get());
    if (ImitatorStateChange) {
        if (ImitatorToggle)
            ConnectionRestored();
        else
            ConnectionLost();
        ImitatorToggle = !ImitatorToggle;
    }
    return true;
}

bool TDevice::PollDevice(TDeviceList* list, TReceiveVariables* received, bool& connected) {
    TTerminalDataClass* log = PollLog.get();
    AddLog(log, "---- START DATA READING.... ----");
    AddLog(log, "Опрашивается устройство: "_cp + DeviceName);
    if (!HasConnectionObject(list, Properties.get())) {
        AddLog(log, NoConnectionObjectText());
        Report(kErrReported, NoConnectionObjectText());
        return false;
    }
    if (!PrepareConnection(list, log)) {
        AddLog(log, OpenFailedText());
        Report(kErrReported, OpenFailedText());
        return false;
    }
    list->Connection->LogConnecting(log);
    AddLog(log, "");
    AddLog(log, "CONNECTION ----------------");
    if (!ConnectProcedure(kCycleMode, list->Connection, log, received)) {
        AddLog(log, OpenFailedText());
        Report(kErrReported, DeviceName + ": " + OpenFailedText());
        return false;
    }
    AddLog(log, "CONNECTION OK --------------");
    AddLog(log, "");
    if (list->Connection == nullptr || !list->Connection->IsOpen()) return false;

    connected = true;
    SendBroadcast(list->Connection);
    return ReadFrames(list->Connection, received);
}

void TDevice::SendBroadcast(TOstrolinkaConnection* connection) {
    TTerminalDataClass* log = PollLog.get();
    std::string frame;
    BuildBroadcastRequest(connection, log, frame);
    if (frame.empty()) return;
    LogData(kLogSent, kPollChannel, log, frame, "Broadcast request: ");
    // Nobody answers a broadcast; the poll goes on either way.
    AddLog(log,
           WroteAll(connection->Write(frame, log), frame) ? "Broadcast request OK!" : "Broadcast failure!");
}

bool TDevice::ReadFrames(TOstrolinkaConnection* connection, TReceiveVariables* received) {
    TTerminalDataClass* log = PollLog.get();
    AddLog(log, "");
    AddLog(log, "READING DATA --------------");
    TExchange steps;
    steps.Build = [&](int32_t n, std::string& frame, bool& needAnswer) {
        RequestRefused = 0;
        BuildReadRequest(connection, n, frame, log, needAnswer);
    };
    steps.FramePrefix = [](int32_t n) { return "Write to device: Index=" + IntToStr(n) + " "; };
    steps.WriteFailureText = [](int32_t written) { return "Data write failure: " + IntToStr(written); };
    steps.WriteFailureBeforeClose = true;
    steps.WrittenText = "Data write OK";
    steps.Read = [&](std::string& answer) {
        WaitReadDelay();
        platform::ProcessMessages();
        return connection->Read(TimeOut, answer, log);
    };
    steps.NoAnswer = [&] { AddLog(log, "Device not responded."); };
    steps.AnswerPrefix = PollAnswerPrefix;
    steps.Parse = [&](int32_t n, std::string& answer) {
        return ParsePollAnswer(connection, n, received, answer);
    };
    steps.Rejected = [&](int32_t n, int32_t r, const std::string& answer) {
        AddLog(log, RejectedText(n, r, answer.size()));
    };
    int32_t n = 0;
    if (!RunExchange(*this, connection, log, steps, n)) return false;
    if (RequestRefused != 0) {
        // Nothing was written; the step fails as a rejected answer does.
        AddLog(log, RejectedText(n, RequestRefused, 0));
        return false;
    }
    AddLog(log, "READING OK --------------");
    AddLog(log, "");
    return true;
}

void TDevice::WaitReadDelay() {
    platform::TThread::SleepUnlessTerminated(static_cast<uint32_t>(ReadDelay > 0 ? ReadDelay : 0));
}

// A rejected answer may only be incomplete: it is read on and the whole of it parsed again.
int32_t TDevice::ParsePollAnswer(TOstrolinkaConnection* connection, int32_t n, TReceiveVariables* received,
                                 std::string& answer) {
    TTerminalDataClass* log = PollLog.get();
    int32_t r = ParseReadResponse(connection, n, log, received, answer);
    if (r >= 0) return r;
    for (int32_t k = RereadCount; k > 0;) {
        // A thread asked to stop rereads no more.
        if (platform::TThread::CurrentTerminated()) break;
        --k;
        WaitReadDelay();
        std::string more;
        const int32_t m = connection->Read(TimeOut, more, log);
        if (m > 0) {
            answer += more;
            LogData(kLogReceived, kPollChannel, log, answer, PollAnswerPrefix(answer.size()));
            r = ParseReadResponse(connection, n, log, received, answer);
            if (r == 0) break;
        } else {
            r = m == 0 ? kErrBlockLength : m;
        }
    }
    AddLog(log, "----- End of rereading data. -----");
    return r;
}

bool TDevice::ExecuteCommand(TDeviceList* list, const TCommandRecord& command, uint8_t& status,
                             TReceiveVariables* received) {
    const TCommandRecord copy = command;
    status = kCommandStarted;
    if (PreCommand(copy, received)) return true;

    TTerminalDataClass* log = CommandLog.get();
    if (!HasConnectionObject(list, Properties.get())) {
        AddLog(log, NoConnectionObjectText());
        return false;
    }
    bool result = false;
    bool connected = false;

    auto cycle = [&] {
        if (!PrepareConnection(list, log)) {
            // The command trace has always named an open failure this way.
            AddLog(log, NoConnectionObjectText());
            return;
        }
        // The connect exchange of a command writes into the poll log, as it always has.
        if (!ConnectProcedure(kCommandConnectMode, list->Connection, PollLog.get(), received)) return;
        if (list->Connection == nullptr || !list->Connection->IsOpen()) return;

        connected = true;
        TOstrolinkaConnection* connection = list->Connection;
        // No read delay and no rereading: a command is written once.
        TExchange steps;
        steps.Build = [&](int32_t i, std::string& frame, bool& needAnswer) {
            RequestRefused = 0;
            BuildWriteRequest(connection, i, frame, log, needAnswer, received, copy);
        };
        steps.Channel = kCommandChannel;
        steps.FramePrefix = [](int32_t) { return std::string("Write to device: "); };
        steps.AnswerPrefix = [](std::size_t length) { return "Read from device: " + IntToStr(length) + " "; };
        steps.ParseWithoutAnswer = false;
        steps.Parse = [&](int32_t i, std::string& answer) {
            return ParseWriteResponse(connection, i, log, received, answer, copy);
        };
        steps.Rejected = [&](int32_t, int32_t, const std::string&) { status = kCommandRejected; };
        int32_t i = 0;
        // A refused step wrote nothing: the command failed, though no device rejected it.
        result = RunExchange(*this, connection, log, steps, i) && RequestRefused == 0;
    };

    TEndSteps end;
    end.Run(cycle);
    end.Run([&] {
        if (connected && list->Connection != nullptr)
            DisconnectProcedure(kCycleMode, list->Connection, log, received);
    });
    // Closed with the poll log, as the command cycle always has.
    end.Run([&] { CloseAfterCycle(list, PollLog.get()); });
    LastResult = result;
    end.Run([&] { UpdateLinkState(result); });
    end.Run([&] {
        AddLog(log, result ? "Команда успешно обработана."_cp : "Команда устройством не обработана."_cp);
    });
    end.Finish();
    return result;
}

bool TDevice::ConnectProcedure(uint8_t mode, TOstrolinkaConnection*& connection, TTerminalDataClass* log,
                               TReceiveVariables* received) {
    if (connection == nullptr) return false;
    AddLog(log, "Start connection procedure...");
    TOstrolinkaConnection* link = connection;
    TExchange steps;
    steps.Build = [&](int32_t i, std::string& frame, bool& needAnswer) {
        BuildConnectRequest(link, mode, frame, log, needAnswer, i);
    };
    steps.FramePrefix = [](int32_t) { return std::string("Data writing: "); };
    steps.WriteFailureText = [](int32_t written) {
        return "Ошибка записи в физический порт."_cp + " " + IntToStr(written);
    };
    // One more try before the exchange is given up.
    steps.Read = [&](std::string& answer) {
        const int32_t first = link->Read(TimeOut, answer, log);
        return first > 0 ? first : link->Read(TimeOut, answer, log);
    };
    steps.NoAnswer = [&] {
        // The panel-does-not-answer text, filled with the device address.
        AddLog(log, ErrorText(kErrNoAnswer, DeviceAddress));
        Report(kErrReported, "No answer on connect message.");
    };
    steps.AnswerPrefix = [](std::size_t) { return std::string("Data readed: "); };
    steps.Parse = [&](int32_t i, std::string& answer) {
        return ParseConnectResponse(link, mode, log, received, answer, i);
    };
    steps.Rejected = [&](int32_t, int32_t, const std::string&) {
        AddLog(log, "Ошибка длины блока данных."_cp);
    };
    int32_t i = 0;
    if (!RunExchange(*this, link, log, steps, i)) return false;
    AddLog(log, "End connection procedure...");
    return true;
}

bool TDevice::DisconnectProcedure(uint8_t mode, TOstrolinkaConnection*& connection, TTerminalDataClass* log,
                                  TReceiveVariables* received) {
    if (connection == nullptr) return false;
    // No trace lines of its own, and a single read.
    TOstrolinkaConnection* link = connection;
    TExchange steps;
    steps.Build = [&](int32_t i, std::string& frame, bool& needAnswer) {
        BuildDisconnectRequest(link, mode, frame, log, needAnswer, i);
    };
    steps.Parse = [&](int32_t i, std::string& answer) {
        return ParseDisconnectResponse(link, mode, log, received, answer, i);
    };
    int32_t i = 0;
    return RunExchange(*this, link, log, steps, i);
}

} // namespace framework
