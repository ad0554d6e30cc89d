// The poll and command cycles of a device and its connect and disconnect exchanges: the order of the
// steps, the retries, the closing rules, the link-state update and every trace line. The protocol
// only fills the hooks.
#include <exception>

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

void AddLog(TTerminalDataClass* log, const std::string& line) {
    if (log != nullptr) log->AddLine(line);
}

void Report(const std::string& text) {
    if (ErrorObj != nullptr) ErrorObj->WriteMessage(-1, text);
}

std::string NoConnectionObjectText() { return "Ошибка при создании класса доступа к устройству."_cp; }
std::string OpenFailedText() { return "Ошибка установки соединения с устройством."_cp; }

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

    auto cycle = [&] {
        if (ImitatorEnabled) {
            Imitate(received, log);
            if (ImitatorStateChange) {
                if (ImitatorToggle) ConnectionRestored();
                else ConnectionLost();
                ImitatorToggle = !ImitatorToggle;
            }
            success = true;
            return;
        }
        AddLog(log, "---- START DATA READING.... ----");
        AddLog(log, "Опрашивается устройство: "_cp + DeviceName);
        if (list == nullptr || list->Connection == nullptr) {
            if (list != nullptr) list->Connection = list->CreateConnection(Properties.get()).release();
            if (list == nullptr || list->Connection == nullptr) {
                AddLog(log, NoConnectionObjectText());
                Report(NoConnectionObjectText());
                return;
            }
        }
        if (!PrepareConnection(list, log)) {
            AddLog(log, OpenFailedText());
            Report(OpenFailedText());
            return;
        }
        list->Connection->LogConnecting(log);
        AddLog(log, "");
        AddLog(log, "CONNECTION ----------------");
        if (!ConnectProcedure(1, list->Connection, log, received)) {
            AddLog(log, OpenFailedText());
            Report(DeviceName + ": " + OpenFailedText());
            return;
        }
        AddLog(log, "CONNECTION OK --------------");
        AddLog(log, "");
        if (list->Connection == nullptr || !list->Connection->IsOpen()) return;

        connected = true;
        TOstrolinkaConnection* connection = list->Connection;
        std::string frame;
        BuildBroadcastRequest(connection, log, frame);
        if (!frame.empty()) {
            LogData(1, 0, log, frame, "Broadcast request: ");
            // Nobody answers a broadcast; the poll goes on either way.
            AddLog(log, WroteAll(connection->Write(frame, log), frame) ? "Broadcast request OK!" : "Broadcast failure!");
        }

        AddLog(log, "");
        AddLog(log, "READING DATA --------------");
        int32_t n = 0;
        bool needAnswer = false;
        const auto build = [&] {
            RequestRefused = 0;
            BuildReadRequest(connection, n, frame, log, needAnswer);
        };
        build();
        while (!frame.empty()) {
            LogData(1, 0, log, frame, "Write to device: Index=" + IntToStr(n) + " ");
            const int32_t written = connection->Write(frame, log);
            if (!WroteAll(written, frame)) {
                AddLog(log, "Data write failure: " + IntToStr(written));
                connection->Close(log);
                return;
            }
            AddLog(log, "Data write OK");
            std::string answer;
            if (needAnswer) {
                platform::TThread::SleepUnlessTerminated(static_cast<uint32_t>(ReadDelay > 0 ? ReadDelay : 0));
                platform::ProcessMessages();
                if (connection->Read(TimeOut, answer, log) <= 0) {
                    connection->Close(log);
                    AddLog(log, "Device not responded.");
                    return;
                }
            }
            const auto logAnswer = [&] {
                LogData(0, 0, log, answer, "Read from device: Length=" + IntToStr(answer.size()) + " ");
            };
            logAnswer();
            int32_t r = ParseReadResponse(connection, n, log, received, answer);
            if (r < 0) {
                for (int32_t k = RereadCount; k > 0;) {
                    // A thread asked to stop rereads no more.
                    if (platform::TThread::CurrentTerminated()) break;
                    --k;
                    platform::TThread::SleepUnlessTerminated(static_cast<uint32_t>(ReadDelay > 0 ? ReadDelay : 0));
                    std::string more;
                    const int32_t m = connection->Read(TimeOut, more, log);
                    if (m > 0) {
                        answer += more;
                        logAnswer();
                        r = ParseReadResponse(connection, n, log, received, answer);
                        if (r == 0) break;
                    } else {
                        r = m == 0 ? -12 : m;
                    }
                }
                AddLog(log, "----- End of rereading data. -----");
            }
            if (r < 0) {
                connection->Close(log);
                AddLog(log, RejectedText(n, r, answer.size()));
                return;
            }
            ++n;
            build();
        }
        if (RequestRefused != 0) {
            // Nothing was written; the step fails as a rejected answer does.
            AddLog(log, RejectedText(n, RequestRefused, 0));
            return;
        }
        AddLog(log, "READING OK --------------");
        AddLog(log, "");
        success = true;
    };

    TEndSteps end;
    end.Run(cycle);
    end.Run([&] {
        if (connected && list->Connection != nullptr) {
            AddLog(log, "");
            AddLog(log, "DICSONNECTING -----------");
            DisconnectProcedure(1, list->Connection, log, received);
        }
    });
    end.Run([&] {
        TOstrolinkaConnection* c = list != nullptr ? list->Connection : nullptr;
        if (c != nullptr && c->IsOpen() && c->CloseAfterPoll()) c->Close(log);
    });
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

bool TDevice::ExecuteCommand(TDeviceList* list, const TCommandRecord& command, uint8_t& status,
                             TReceiveVariables* received) {
    const TCommandRecord copy = command;
    status = 1;
    if (PreCommand(copy, received)) return true;

    TTerminalDataClass* log = CommandLog.get();
    bool result = false;
    bool connected = false;
    if (list == nullptr || list->Connection == nullptr) {
        if (list != nullptr) list->Connection = list->CreateConnection(Properties.get()).release();
        if (list == nullptr || list->Connection == nullptr) {
            AddLog(log, NoConnectionObjectText());
            return false;
        }
    }

    auto cycle = [&] {
        if (!PrepareConnection(list, log)) {
            // The command trace has always named an open failure this way.
            AddLog(log, NoConnectionObjectText());
            return;
        }
        // The connect exchange of a command writes into the poll log, as it always has.
        if (!ConnectProcedure(0, list->Connection, PollLog.get(), received)) return;
        if (list->Connection == nullptr || !list->Connection->IsOpen()) return;

        connected = true;
        TOstrolinkaConnection* connection = list->Connection;
        std::string frame;
        bool needAnswer = false;
        int32_t i = 0;
        const auto build = [&] {
            RequestRefused = 0;
            BuildWriteRequest(connection, i, frame, log, needAnswer, received, copy);
        };
        build();
        while (!frame.empty()) {
            LogData(1, 1, log, frame, "Write to device: ");
            if (!WroteAll(connection->Write(frame, log), frame)) {
                connection->Close(log);
                return;
            }
            if (needAnswer) {
                std::string answer;
                if (connection->Read(TimeOut, answer, log) < 1) {
                    connection->Close(log);
                    return;
                }
                LogData(0, 1, log, answer, "Read from device: " + IntToStr(answer.size()) + " ");
                if (ParseWriteResponse(connection, i, log, received, answer, copy) < 0) {
                    connection->Close(log);
                    status = 2;
                    return;
                }
            }
            ++i;
            build();
        }
        // A refused step wrote nothing: the command failed, though no device rejected it.
        result = RequestRefused == 0;
    };

    TEndSteps end;
    end.Run(cycle);
    end.Run([&] {
        if (connected && list->Connection != nullptr) DisconnectProcedure(1, list->Connection, log, received);
    });
    end.Run([&] {
        // Closed with the poll log, as the command cycle always has.
        TOstrolinkaConnection* c = list->Connection;
        if (c != nullptr && c->IsOpen() && c->CloseAfterPoll()) c->Close(PollLog.get());
    });
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
    int32_t i = 0;
    std::string frame;
    bool needAnswer = false;
    BuildConnectRequest(connection, mode, frame, log, needAnswer, i);
    while (!frame.empty()) {
        LogData(1, 0, log, frame, "Data writing: ");
        const int32_t written = connection->Write(frame, log);
        if (!WroteAll(written, frame)) {
            connection->Close(log);
            AddLog(log, "Ошибка записи в физический порт."_cp + " " + IntToStr(written));
            return false;
        }
        std::string answer;
        if (needAnswer) {
            // One more try before the exchange is given up.
            if (connection->Read(TimeOut, answer, log) <= 0 && connection->Read(TimeOut, answer, log) <= 0) {
                connection->Close(log);
                // The text of driver code -13 ("panel does not answer"), filled with the device address.
                AddLog(log, ErrorText(-13, DeviceAddress));
                Report("No answer on connect message.");
                return false;
            }
        }
        LogData(0, 0, log, answer, "Data readed: ");
        if (ParseConnectResponse(connection, mode, log, received, answer, i) < 0) {
            connection->Close(log);
            AddLog(log, "Ошибка длины блока данных."_cp);
            return false;
        }
        ++i;
        BuildConnectRequest(connection, mode, frame, log, needAnswer, i);
    }
    AddLog(log, "End connection procedure...");
    return true;
}

bool TDevice::DisconnectProcedure(uint8_t mode, TOstrolinkaConnection*& connection, TTerminalDataClass* log,
                                  TReceiveVariables* received) {
    if (connection == nullptr) return false;
    int32_t i = 0;
    std::string frame;
    bool needAnswer = false;
    BuildDisconnectRequest(connection, mode, frame, log, needAnswer, i);
    while (!frame.empty()) {
        if (!WroteAll(connection->Write(frame, log), frame)) {
            connection->Close(log);
            return false;
        }
        std::string answer;
        if (needAnswer && connection->Read(TimeOut, answer, log) <= 0) {
            connection->Close(log);
            return false;
        }
        if (ParseDisconnectResponse(connection, mode, log, received, answer, i) < 0) {
            connection->Close(log);
            return false;
        }
        ++i;
        BuildDisconnectRequest(connection, mode, frame, log, needAnswer, i);
    }
    return true;
}

} // namespace framework
