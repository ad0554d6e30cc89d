// The exchange area of one process: the module creates and initialises the block, the server opens
// it and attaches without initialising. The wrappers stay unattached when there is no block, and
// then every operation does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "framework/intercom_regions.h"
#include "platform/shared_memory.h"

namespace framework {

class TIntercomInterface {
public:
    // Module: a new block with room for `count` static tags. A block of that name that a live
    // process holds belongs to another module instance: then there is no view.
    static std::unique_ptr<TIntercomInterface> Create(int32_t count, std::string_view name);
    // Server: the existing block. Its static-tag room comes from the block's size.
    static std::unique_ptr<TIntercomInterface> Open(std::string_view name);
    // Module: the wrappers with room for `count` static tags and no block, as when it cannot be made.
    static std::unique_ptr<TIntercomInterface> Unattached(int32_t count);
    ~TIntercomInterface();
    TIntercomInterface(const TIntercomInterface&) = delete;
    TIntercomInterface& operator=(const TIntercomInterface&) = delete;

    bool IsOpen() const { return view_ != nullptr; }
    bool IsCreator() const { return creator_ != 0; }

    TOstrolinkaInfo OstrolinkaInfo;
    TServerData ServerData;
    TDMLVariablesList DMLVariablesList;
    TDynemicVariablesList DynemicVariablesList;
    TCommandsList CommandsList;
    TServerErrorList ServerErrorList;
    TTerminalClass RequestTerminal;
    TTerminalClass CommandsTerminal;
    TTerminalClass RemoteTerminal;

private:
    TIntercomInterface(bool creator, int32_t capacity);
    void AttachAll(int32_t room, bool initialize);

    uint8_t creator_;
    platform::TSharedMemory mapping_;
    uint8_t* view_ = nullptr;
};

// The process's exchange area, nullptr while there is none.
extern TIntercomInterface* Intercom;

} // namespace framework
