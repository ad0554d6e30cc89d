// What the server tests share: the platform layer takes the object namespace once per process, so
// every test of a run uses the same one, unique to the run.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

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

} // namespace servertest
