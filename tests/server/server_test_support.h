// What the server tests share: the platform layer takes the object namespace once per process, so
// every test of a run uses the same one, unique to the run.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "framework/intercom.h"

namespace servertest {

inline std::string UseRunNamespace() {
    static const std::string ns = [] {
        const std::string name = "srvtest-" + std::to_string(::getpid());
        ::setenv("OSTROLINKA_NAMESPACE", name.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return name;
    }();
    return ns;
}

// The server error list of the area, one "code text" line a record, oldest first.
inline std::string ServerErrors(framework::TIntercomInterface& area) {
    auto list = std::make_unique<framework::TServerErrorRegion>();
    area.ServerErrorList.ReadAll(*list, false);
    std::string text;
    for (int32_t i = 0; i < list->Count && i < 100; ++i)
        text += std::to_string(list->Records[i].Code) + " " + list->Records[i].Text.Get() + "\n";
    return text;
}

} // namespace servertest
