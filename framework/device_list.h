// The devices of a driver, each in a record with its poll times, and the one connection they share;
// the configuration file (driver settings as root attributes, one `device` element per device).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "framework/collections.h"
#include "framework/connection.h"
#include "framework/device.h"
#include "platform/clock.h"

namespace framework {

// Driver settings kept by the framework, written by the configuration file and the setup window.
extern std::atomic<bool> ThreadOnPort;
extern std::atomic<bool> ErrorMngrDisabled;
extern std::atomic<int32_t> GeneralCommandInterval; // ms per command of a batch
extern std::atomic<bool> AutoRunServer;
extern std::atomic<int32_t> CheckServerInterval; // s between server starts
extern std::atomic<bool> RAPEnabled;
extern std::atomic<uint16_t> RAPPort;

// What one load of the configuration file found.
struct TConfigLoad {
    bool Read = false;
    // Why a file that is there was not read, as the user and the log are told: what stopped the
    // reading and at which offset of the file. Empty when it was read and when it is not there.
    std::string Reason;
    // The reading stopped only at an element that is no device: the devices before it were read
    // whole and stay in the list.
    bool DevicesKept = false;
    // What the reading took by default, as the file has it (an attribute that names nothing it
    // reads or repeats one, a value that does not convert) with what was taken instead; each names
    // the device, or the driver's settings on the root. The file still loads, as files of other
    // releases must.
    TLoadNotes Defaulted;
    // The reading ran out of memory: nothing is known of the file, and nothing may replace it for that.
    bool OutOfMemory = false;
    // The BytesDigest of the bytes read; none when the file was not there or not read whole.
    std::optional<std::size_t> Digest;

    explicit operator bool() const { return Read; }
    // The line that reports a load that did not read: the file is not there, or why it was not read.
    std::string Message(const std::string& path) const;
};

// What tells the bytes of a file at one moment from those at another: a hash of them.
std::size_t BytesDigest(const std::string& bytes);
// The digest of what ReadRegularFile gives; none when it gives nothing. Memory that runs out throws.
std::optional<std::size_t> FileDigest(const std::string& fileName);

struct TDeviceRecord {
    std::unique_ptr<TDevice> Device;
    platform::TDateTime LastPoll = 0; // start of the last poll
    int32_t Interval = 0;             // ms between the last two poll starts
    int32_t Duration = 0;             // ms of the last poll
};

class TDeviceList : public TBaseArray {
public:
    TDeviceList() = default;
    // Frees the connection, then the records.
    ~TDeviceList() override;

    void FreeItem(void* item) override;

    // Copies of source's devices, made by the driver's factory; the connection is not copied. All or
    // nothing: when a copy cannot be made, the list stays as it was.
    virtual void Assign(const TDeviceList* source);
    // A device with its default properties applied, appended last.
    virtual TDeviceRecord* AddDevice();
    // False with the log line in why when the file was not written; `digest` gets the BytesDigest of
    // what was.
    virtual bool SaveToFile(const std::string& fileName, std::string* why = nullptr,
                            std::size_t* digest = nullptr);
    // Reports nothing: each caller tells the outcome in its own place.
    virtual TConfigLoad LoadFromFile(const std::string& fileName);
    // A new, unopened connection for a device's settings; the base has none.
    virtual std::unique_ptr<TOstrolinkaConnection> CreateConnection(TDevicePropertyList* properties);
    virtual bool FreeConnection(TOstrolinkaConnection*& connection);
    // Closes the shared connection without a log; the object stays.
    virtual bool CloseConnection();
    // False when this list would make another kind of connection for these settings, so that a
    // serial device after a TCP device with equal settings does not go over the TCP link.
    virtual bool ConnectionFits(const TOstrolinkaConnection& connection, TDevicePropertyList* properties);

    // The configuration file's text for this list and the driver settings, as a save writes it.
    // Throws Exception for a device that cannot be written, naming it, and for a text past what a
    // read takes (platform::kMaxFileSize), which it stops building there.
    std::string ConfigText() const;
    // Prefixes compare upper-cased, untrimmed.
    TDeviceRecord* FindDevice(const std::string& prefix, int32_t address) const;
    // The index of the device that the published command batch is for, or -1.
    int32_t PendingCommandDevice() const;

    TDeviceRecord* Record(int32_t index) const { return Item<TDeviceRecord>(index); }
    TDevice* Device(int32_t index) const {
        TDeviceRecord* r = Record(index);
        return r ? r->Device.get() : nullptr;
    }

    // Owned; made on demand by the cycles, nullptr until then.
    TOstrolinkaConnection* Connection = nullptr;

protected:
    // Appends a record for a device, its times starting now.
    TDeviceRecord* AppendDevice(std::unique_ptr<TDevice> device);

private:
    // The settings and devices of a configuration text; false with load's reason set where it stops.
    bool ReadConfig(const std::string& text, TConfigLoad& load);
};

} // namespace framework
