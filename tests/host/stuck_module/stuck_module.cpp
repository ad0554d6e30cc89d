// A driver module whose initialisation never returns, for the host program's stop signals. Like the
// real module it holds its exchange area by then; it says on standard output when it is inside the call.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "host/host_records.h"
#include "platform/shared_memory.h"

using ostrolinka_host::TDeviceInfoRecord;
using ostrolinka_host::TDrvInitRecord;

extern "C" {

int32_t DLMGetDeviceInfo(TDeviceInfoRecord* info) {
    std::memset(info, 0, sizeof *info);
    std::strcpy(info->Title, "stuck module");
    return 0;
}

int32_t DLMInitDeviceDrv(TDrvInitRecord) {
    static platform::TSharedMemory area;
    if (area.Create("Quillary.dat", 4096) != platform::TSharedMemoryResult::Ok)
        std::printf("no exchange area\n");
    std::printf("inside DLMInitDeviceDrv\n");
    std::fflush(stdout);
    // A signal handler of the host may run here; the call goes on regardless.
    for (;;)
        ::pause();
}

int32_t DLMRunDeviceDrv() {
    return 0;
}
int32_t DLMStopDeviceDrv() {
    return 0;
}
int32_t DLMDoneDeviceDrv() {
    return 0;
}
int32_t DLMWriteDataDrv(const void*, int32_t) {
    return 0;
}
}
