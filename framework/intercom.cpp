#include "framework/intercom.h"

#include <algorithm>
#include <cstring>

namespace framework {

TIntercomInterface* Intercom = nullptr;

TIntercomInterface::TIntercomInterface(bool creator, int32_t capacity)
    : DMLVariablesList(capacity), DynemicVariablesList(creator), CommandsList(creator),
      creator_(creator ? 1 : 0) {}

TIntercomInterface::~TIntercomInterface() {
    view_ = nullptr;
    mapping_.Close();
}

std::unique_ptr<TIntercomInterface> TIntercomInterface::Unattached(int32_t count) {
    return std::unique_ptr<TIntercomInterface>(new TIntercomInterface(true, std::max(count, 0)));
}

std::unique_ptr<TIntercomInterface> TIntercomInterface::Create(int32_t count, std::string_view name) {
    count = std::max(count, 0);
    std::unique_ptr<TIntercomInterface> area = Unattached(count);
    const std::size_t size = TIntercomBlock::Size(static_cast<std::size_t>(count));
    if (area->mapping_.Create(name, size) != platform::TSharedMemoryResult::Ok) return area;
    area->view_ = area->mapping_.Data();
    area->AttachAll(count, true);
    return area;
}

std::unique_ptr<TIntercomInterface> TIntercomInterface::Open(std::string_view name) {
    std::unique_ptr<TIntercomInterface> area(new TIntercomInterface(false, -1));
    if (area->mapping_.Open(name) != platform::TSharedMemoryResult::Ok) return area;
    // The room of region 3 follows from the block's size, whatever its Count says; a block that
    // fits no layout, or whose Count exceeds its room, is not ours to read.
    int32_t room = 0;
    int32_t count = 0;
    const bool fits = TIntercomBlock::CapacityOf(area->mapping_.Size(), room);
    if (fits) {
        std::memcpy(&count,
                    area->mapping_.Data() + TIntercomBlock::DMLVariablesOffset +
                        offsetof(TDMLVariablesHeader, Count),
                    sizeof count);
    }
    if (!fits || count > room) {
        area->mapping_.Close();
        return area;
    }
    area->view_ = area->mapping_.Data();
    area->AttachAll(room, false);
    return area;
}

void TIntercomInterface::AttachAll(int32_t room, bool initialize) {
    const std::size_t n = static_cast<std::size_t>(room);
    OstrolinkaInfo.Attach(view_ + TIntercomBlock::OstrolinkaInfoOffset, initialize);
    ServerData.Attach(view_ + TIntercomBlock::ServerDataOffset, initialize);
    DMLVariablesList.Attach(view_ + TIntercomBlock::DMLVariablesOffset, room, initialize);
    ServerErrorList.Attach(view_ + TIntercomBlock::ServerErrorsOffset(n), initialize);
    DynemicVariablesList.Attach(view_ + TIntercomBlock::DynamicVariablesOffset(n));
    CommandsList.Attach(view_ + TIntercomBlock::CommandsOffset(n));
    RequestTerminal.Attach(view_ + TIntercomBlock::TerminalOffset(n, 0), initialize);
    CommandsTerminal.Attach(view_ + TIntercomBlock::TerminalOffset(n, 1), initialize);
    RemoteTerminal.Attach(view_ + TIntercomBlock::TerminalOffset(n, 2), initialize);
}

} // namespace framework
