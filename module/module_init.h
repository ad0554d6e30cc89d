// The module's objects and the bodies of the host's entry points: initialisation from the host's
// record, run, stop, writes and shutdown.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "framework/driver.h"
#include "platform/messages.h"

namespace module {

class TDRVVariableList;
class TCommandsBuffer;
class TReceivedBuffer;
class TDynamicTagList;
class TDriverThread;

#pragma pack(push, 1)
struct TDrvInitRecord {
    int32_t HostWindow;   // receives the value messages
    int32_t MessageId;    // message number of the value messages
    int32_t SourceId;     // put at the head of every value block
    char Directory[4097]; // zero-terminated; the configuration, settings and server lie there
    uint8_t ConfigOnly;   // non-zero: the configuration only, no exchange area, no thread
};
#pragma pack(pop)
static_assert(sizeof(TDrvInitRecord) == 4110);
static_assert(offsetof(TDrvInitRecord, HostWindow) == 0);
static_assert(offsetof(TDrvInitRecord, MessageId) == 4);
static_assert(offsetof(TDrvInitRecord, SourceId) == 8);
static_assert(offsetof(TDrvInitRecord, Directory) == 12);
static_assert(offsetof(TDrvInitRecord, ConfigOnly) == 4109);

// The module's objects; nullptr while there are none. The error object, the exchange area and the
// driver object are the framework's globals.
extern TDRVVariableList* VarList;
extern TCommandsBuffer* CommandsBuffer;
extern TReceivedBuffer* ReceivedBuffer;
extern TDynamicTagList* DynTagList;
extern TDriverThread* DriverThread;

extern TDrvInitRecord InitRecord;
extern std::string CfgPath;
// Period of the static-tag scan, ms.
extern std::atomic<int32_t> ThreadDelayTime;
// Set by the stop and never cleared: no server is started after it.
extern std::atomic<uint8_t> StopFlag;
extern std::atomic<int32_t> RunningThreadCount;

// Held while the master device list is read or replaced, so that a new list can be put in while
// the module thread looks devices up.
extern std::mutex MasterListLock;
// An OK put settings in the driver that no save wrote: the next setup opens on them, not on the
// file. A load of the file clears it.
extern std::atomic<bool> UnsavedSetup;

// The working directory of the record, read no further than its field even without its zero.
std::string InitDirectory(const TDrvInitRecord& record);
// The directory with a path separator at its end.
std::string WithTrailingSeparator(const std::string& directory);

bool IsDriverInitialized();

// Loads the configuration file into the driver's master list under its lock. A list that did not
// load is emptied, unless the reading stopped only at a foreign element after whole devices. The
// driver remembers the outcome: the setup tells the user of a file that was not read and keeps its
// bytes before it saves over it. What the reading took by default is logged, once per load. Read
// `aside`, the file goes into a list of its own first, which the master list takes only when memory
// did not run out: a running module keeps its devices.
framework::TConfigLoad LoadConfiguration(framework::TDriver& driver, const std::string& path,
                                         bool aside = false);

// 0, or -4 when the module is initialised already.
int32_t InitModule(const TDrvInitRecord& record);
// 0, or -5 when the module is not initialised.
int32_t DoneModule();
// True once a shutdown had to leave the module thread running: nothing it may still use, the
// driver object included, is freed after that.
bool ModuleThreadLeftRunning();
int32_t RunModule();
int32_t StopModule();
// 0, -5, or -6 for a bad block or a request for a variable that is not bound.
int32_t WriteModuleData(const void* block, int32_t size);

// Ends the module thread (waiting up to waitMs), asks the servers to close and starts a new thread that
// may start the server at its first check. Its waits serve the calling thread's messages and loop. False,
// with no thread started, when there was none, it did not end in time, the module was shut down or its
// thread replaced meanwhile, or a step failed.
bool RestartModuleThread(uint32_t waitMs);

} // namespace module
