// One polled field device: its settings copied into typed fields, its link state, its poll and
// command logs, its `session` line in the configuration file, the imitator, and the hook slots that
// a protocol fills to build and check frames. The cycles that run the hooks are methods of this
// class too (device_cycles.cpp).
//
// C++ calls no override from a base constructor: a class that overrides CreateProperties makes its
// own list in its own constructor (`Properties = CreateProperties();`), as the base does in its.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/device_property_list.h"
#include "framework/intercom_layout.h"
#include "framework/terminal_data.h"

namespace framework {

class TDeviceList;
class TOstrolinkaConnection;
class TReceiveVariables;
class TImitatorVariableList;
class TRemotePeer;
struct TRemoteRequestHeader;
struct TXmlStop;

// What a load took by default, as the log shows it: the first kKept notes, and how many there were,
// so that a file of countless slips costs neither memory nor a log of its size.
struct TLoadNotes {
    static constexpr std::size_t kKept = 100;
    std::vector<std::string> Kept;
    std::size_t Count = 0;
    // Counts a note; true when it is one to keep.
    bool Take() { return Count++ < kKept; }
};

// A text as a log line or a box shows it: on one line (control bytes as blanks), cut past `bound`
// bytes with "..." after it.
std::string ShownText(std::string_view text, std::size_t bound = 255);

// How a load notes what it took by default: an attribute line that names nothing it reads, one a
// later session sets again, and a value that did not convert, with the text of what was taken
// instead. Each attribute shows in the quote a save would use; a long value is cut.
std::string PassedOverNote(std::string_view line);
std::string SetAgainNote(std::string_view name, std::string_view value);
std::string UnreadValueNote(std::string_view name, std::string_view value, const std::string& taken);

// LogData's direction and channel: what the cycles pass for overrides to tell the lines apart.
constexpr uint8_t kLogReceived = 0;
constexpr uint8_t kLogSent = 1;
constexpr uint8_t kPollChannel = 0;    // the poll cycle and the connect exchange
constexpr uint8_t kCommandChannel = 1; // the command cycle

// The mode the cycles hand to the connect and disconnect hooks: the command cycle connects with
// kCommandConnectMode; every other exchange (the poll's both, the command's disconnect) with kCycleMode.
constexpr uint8_t kCommandConnectMode = 0;
constexpr uint8_t kCycleMode = 1;

// How far a command got, as its cycle and the device thread record it.
constexpr uint8_t kCommandNotRun = 0;   // none, or failed before execution
constexpr uint8_t kCommandStarted = 1;  // no answer
constexpr uint8_t kCommandRejected = 2; // rejected by the device
constexpr uint8_t kCommandDone = 3;

class TDevice {
public:
    static constexpr std::size_t kMaxNameLength = 255;
    // What an Enabled that does not read as yes or no is taken for.
    static constexpr bool kEnabledFallback = false;

    // Slot 1. The typed fields stay zero until ApplyProperties runs; the factory callers run it.
    TDevice();
    virtual ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Settings, list index and properties of source; logs, link state and times stay.
    virtual void Assign(const TDevice* source);
    virtual void ClearPollLog();
    virtual void ClearCommandLog();
    // direction: kLogSent or kLogReceived; channel: kPollChannel or kCommandChannel. The base
    // ignores both; they are there for overrides.
    virtual void LogData(uint8_t direction, uint8_t channel, TTerminalDataClass* log, const std::string& data,
                         const std::string& prefix);
    virtual void ConnectionRestored();
    virtual void ConnectionLost();
    virtual std::unique_ptr<TDevicePropertyList> CreateProperties();
    // Appends the `session` line, each value in quotes the reader takes back. False, with why in
    // `why`, for a value that cannot be: it holds both kinds of quote, or a comment's opening `<!--`,
    // which the reader would take to run on over what follows. Memory running out raises.
    virtual bool SaveToXml(int32_t indent, std::vector<std::string>& lines, std::string* why = nullptr);
    // Reads the properties from the content of a `device` element: whole elements and comments, the
    // `session` element parsing whole. False otherwise, with where in the trimmed text and why in stop.
    // What the reading took by default (a session attribute that names no property, or repeats one,
    // one a later session sets again, and a value that does not convert) goes to notes.
    virtual bool LoadFromXml(const std::string& text, TXmlStop* stop = nullptr, TLoadNotes* notes = nullptr);
    virtual void ApplyProperties();
    virtual void Imitate(TReceiveVariables* received, TTerminalDataClass* log);
    virtual void BeforePoll(TReceiveVariables* received);
    // True: the command was handled without the device.
    virtual bool PreCommand(const TCommandRecord& command, TReceiveVariables* received);
    virtual void AfterPoll(TReceiveVariables* received);
    virtual bool ConnectProcedure(uint8_t mode, TOstrolinkaConnection*& connection, TTerminalDataClass* log,
                                  TReceiveVariables* received);
    virtual bool DisconnectProcedure(uint8_t mode, TOstrolinkaConnection*& connection,
                                     TTerminalDataClass* log, TReceiveVariables* received);

    // Protocol hooks. They never raise: an empty frame ends the pass; a parse result is 0 or a
    // negative driver error code. A read or write build hook that refuses a step which exists (a number
    // of its settings does not fit its field of the frame) leaves the frame empty and sets RequestRefused to
    // a negative driver error code: the cycle then fails at that step with nothing written.
    virtual void BuildConnectRequest(TOstrolinkaConnection* connection, uint8_t mode, std::string& frame,
                                     TTerminalDataClass* log, bool& needAnswer, int32_t index);
    virtual int32_t ParseConnectResponse(TOstrolinkaConnection* connection, uint8_t mode,
                                         TTerminalDataClass* log, TReceiveVariables* received,
                                         const std::string& answer, int32_t index);
    virtual void BuildBroadcastRequest(TOstrolinkaConnection* connection, TTerminalDataClass* log,
                                       std::string& frame);
    virtual void BuildReadRequest(TOstrolinkaConnection* connection, int32_t index, std::string& frame,
                                  TTerminalDataClass* log, bool& needAnswer);
    // 0: accepted, its values queued in received; negative: a driver error code.
    virtual int32_t ParseReadResponse(TOstrolinkaConnection* connection, int32_t index,
                                      TTerminalDataClass* log, TReceiveVariables* received,
                                      const std::string& answer);
    virtual void BuildDisconnectRequest(TOstrolinkaConnection* connection, uint8_t mode, std::string& frame,
                                        TTerminalDataClass* log, bool& needAnswer, int32_t index);
    virtual int32_t ParseDisconnectResponse(TOstrolinkaConnection* connection, uint8_t mode,
                                            TTerminalDataClass* log, TReceiveVariables* received,
                                            const std::string& answer, int32_t index);
    virtual void BuildWriteRequest(TOstrolinkaConnection* connection, int32_t index, std::string& frame,
                                   TTerminalDataClass* log, bool& needAnswer, TReceiveVariables* received,
                                   const TCommandRecord& command);
    // Negative: the device rejected the write.
    virtual int32_t ParseWriteResponse(TOstrolinkaConnection* connection, int32_t index,
                                       TTerminalDataClass* log, TReceiveVariables* received,
                                       const std::string& answer, const TCommandRecord& command);

    // The cycles (device_cycles.cpp).
    virtual bool Poll(TDeviceList* list, TReceiveVariables* received);
    // status: kCommandStarted from the start, kCommandRejected when the device rejected a write answer.
    virtual bool ExecuteCommand(TDeviceList* list, const TCommandRecord& command, uint8_t& status,
                                TReceiveVariables* received);
    // Serves a remote request addressed to this device; peer and stream come from the session. The
    // base supports none and says so in reply.
    virtual void DoExternalRequest(TRemotePeer* peer, const TRemoteRequestHeader& header, std::string& reply,
                                   TTerminalDataClass* log, const std::string* stream);
    virtual void AccessLockChanged(bool newEnabled, TReceiveVariables* received);

    // Called once at the end of every poll and of every command cycle that reached the device.
    void UpdateLinkState(bool success);
    void SetEnabled(bool value) { Enabled = value; }

    std::string DeviceName;      // at most 255 characters
    std::string DeviceIPAddress; // at most 255 characters
    int32_t DeviceAddress = 0;
    int32_t IPPort = 0;
    std::string RS232Port;
    int32_t RS232BaudRate = 0;
    uint8_t RS232StopBits = 0;
    uint8_t RS232ByteSize = 0;
    uint16_t RS232Parity = 0;
    int32_t TimeOut = 0;    // answer time-out, ms
    int32_t RetryCount = 0; // failures tolerated before the link counts as lost
    bool Enabled = false;
    std::string RoutingPrefix;
    int32_t ReqwestInterval = 0; // poll interval, ms
    std::string VarConnectStateName;
    std::string CommandStateName;
    std::string VarBlockCommand;
    int32_t ReadDelay = 0;   // pause before each read of a poll answer, ms
    int32_t RereadCount = 1; // further reads of a rejected poll answer
    int32_t ListIndex = -1;
    bool LinkUp = false; // a link state not yet known counts as down
    int32_t FailureCount = 0;
    bool LastResult = false;
    bool ImitatorToggle = false;
    int64_t PollStartTick = 0;  // the 32-bit tick at the start of the last poll
    int64_t LastDuration = 0;   // ms of the last poll
    int32_t RequestRefused = 0; // set by a build hook, cleared by the cycle before each build
    std::unique_ptr<TImitatorVariableList> ImitatorList;
    int32_t LockTagIndex = -1;
    std::unique_ptr<TDevicePropertyList> Properties;
    std::unique_ptr<TTerminalDataClass> PollLog;
    std::unique_ptr<TTerminalDataClass> CommandLog;

protected:
    // While LoadFromXml applies what it read: notes a property whose value did not convert, with the
    // text of what was taken instead.
    void NoteDefault(const TDeviceProperty& property, const std::string& taken);

private:
    // The property's value read as a number or as yes or no; a text that does not convert gives
    // the fallback and is noted.
    int32_t IntegerOf(const TDeviceProperty& property, int32_t fallback);
    bool BooleanOf(const TDeviceProperty& property, bool fallback);
    // Takes a session's attributes into the properties, the first of a name in it. Notes those that
    // name no property or one named before in it, and a property an earlier session (in `set`) set.
    void ReadSession(const std::vector<std::string>& attributes, std::vector<const TDeviceProperty*>& set,
                     TLoadNotes* notes);
    TLoadNotes* notes_ = nullptr; // set only while LoadFromXml applies
    bool PrepareConnection(TDeviceList* list, TTerminalDataClass* openLog);
    // The steps of a poll (device_cycles.cpp).
    bool PollImitator(TReceiveVariables* received);
    bool PollDevice(TDeviceList* list, TReceiveVariables* received, bool& connected);
    void SendBroadcast(TOstrolinkaConnection* connection);
    bool ReadFrames(TOstrolinkaConnection* connection, TReceiveVariables* received);
    void WaitReadDelay();
    int32_t ParsePollAnswer(TOstrolinkaConnection* connection, int32_t n, TReceiveVariables* received,
                            std::string& answer);
    uint64_t pollStartMs_ = 0; // monotonic start of the last poll, for LastDuration
};

} // namespace framework
