// A second process for the exchange area tests. Reads one command a line from stdin and answers one
// line on stdout:
//   create COUNT NAME | open NAME       -> "create 1|0" / "open 1|0" (whether a view exists)
//   name                               -> "name TITLE"
//   setvalue I VALUE                   -> "setvalue 1|0"
//   read I                             -> "read 1|0 VALUE LASTSENT"
//   slot                               -> "slot PID" (registers this process in slot 0)
//   error CODE TEXT                    -> "error COUNT"
//   lockloop N                         -> "lockloop done": N increments of a plain counter under the
//                                         remote terminal's lock byte
//   setname TEXT                       -> "setname"
//   take                               -> waits for a published batch, copies it, Flag 2:
//                                         "taken COUNT DEVICE DOMAIN VALUE", or "timeout"
//   finish                             -> Flag 3: "finished"
//   flag                               -> "flag F"
//   quit                               -> exits
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "framework/intercom.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"

using namespace framework;

namespace {

void Answer(const std::string& line) {
    std::cout << line << std::endl;
}

// The lock test works on the raw block: the counter is the remote terminal's Frequency field.
void LockLoop(const std::string& name, int n) {
    platform::TSharedMemory raw;
    int32_t room = 0;
    if (raw.Open(name) != platform::TSharedMemoryResult::Ok ||
        !TIntercomBlock::CapacityOf(raw.Size(), room)) {
        Answer("lockloop failed");
        return;
    }
    uint8_t* term = raw.Data() + TIntercomBlock::TerminalOffset(static_cast<std::size_t>(room), 2);
    uint8_t* lock = term + offsetof(TTerminalRegion, Lock);
    volatile uint8_t* counter =
        term + offsetof(TTerminalRegion, Params) + offsetof(TTerminalParams, Frequency);
    for (int i = 0; i < n; ++i) {
        if (!LockRegion(lock)) {
            Answer("lockloop timeout");
            return;
        }
        int32_t v;
        std::memcpy(&v, const_cast<uint8_t*>(counter), sizeof v);
        if (i % 64 == 0) ::sched_yield(); // widen the window a lost update would need
        ++v;
        std::memcpy(const_cast<uint8_t*>(counter), &v, sizeof v);
        UnlockRegion(lock);
    }
    Answer("lockloop done");
}

void Take(TIntercomInterface& area) {
    const uint64_t deadline = platform::MonotonicMs() + 10000;
    while (area.CommandsList.GetFlag() != csPublished) {
        if (platform::MonotonicMs() > deadline) {
            Answer("timeout");
            return;
        }
        platform::Sleep(1);
    }
    auto batch = std::make_unique<TCommandsRegion>();
    area.CommandsList.CopyTo(*batch);
    area.CommandsList.SetFlag(csTaken);
    std::ostringstream out;
    out << "taken " << batch->Count << ' ' << batch->Device << ' ' << batch->Domain.Get() << ' '
        << (batch->Count > 0 ? batch->Commands[0].Value : 0.0f);
    Answer(out.str());
}

} // namespace

int main() {
    std::unique_ptr<TIntercomInterface> area;
    std::string blockName;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "create") {
            int32_t count = 0;
            in >> count >> blockName;
            area = TIntercomInterface::Create(count, blockName);
            Intercom = area.get();
            Answer(std::string("create ") + (area->IsOpen() ? "1" : "0"));
        } else if (cmd == "open") {
            in >> blockName;
            area = TIntercomInterface::Open(blockName);
            Intercom = area.get();
            Answer(std::string("open ") + (area->IsOpen() ? "1" : "0"));
        } else if (!area) {
            if (cmd == "quit") return 0;
            Answer("no area");
        } else if (cmd == "name") {
            Answer("name " + area->OstrolinkaInfo.GetName());
        } else if (cmd == "setvalue") {
            int32_t i = 0;
            float v = 0;
            in >> i >> v;
            Answer(std::string("setvalue ") +
                   (area->DMLVariablesList.SetValue(i, platform::Now(), v) ? "1" : "0"));
        } else if (cmd == "read") {
            int32_t i = 0;
            in >> i;
            TDMLVariableEntry e{};
            const bool ok = area->DMLVariablesList.Read(i, e);
            std::ostringstream out;
            out << "read " << (ok ? 1 : 0) << ' ' << e.Value << ' ' << e.LastSent;
            Answer(out.str());
        } else if (cmd == "slot") {
            ServerSlotIndex = 0;
            area->ServerData.SetProcessId(static_cast<int32_t>(::getpid()));
            Answer("slot " + std::to_string(area->ServerData.GetProcessId()));
        } else if (cmd == "error") {
            int32_t code = 0;
            std::string text;
            in >> code >> text;
            area->ServerErrorList.Add(code, text);
            Answer("error " + std::to_string(area->ServerErrorList.GetCount()));
        } else if (cmd == "lockloop") {
            int n = 0;
            in >> n;
            LockLoop(blockName, n);
        } else if (cmd == "setname") {
            std::string text;
            in >> text;
            area->OstrolinkaInfo.SetName(text);
            Answer("setname");
        } else if (cmd == "take") {
            Take(*area);
        } else if (cmd == "finish") {
            area->CommandsList.SetFlag(csDone);
            Answer("finished");
        } else if (cmd == "flag") {
            Answer("flag " + std::to_string(area->CommandsList.GetFlag()));
        } else if (cmd == "quit") {
            Intercom = nullptr;
            area.reset();
            return 0;
        } else {
            Answer("unknown " + cmd);
        }
    }
    return 0;
}
