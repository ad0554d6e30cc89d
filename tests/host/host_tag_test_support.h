// A host tag as tests write it into the host tag database file.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_tag_database.h"

namespace host_test {

inline host::THostTag Tag(int32_t id, const std::string& name, const std::string& routing, double value = 0,
                          double deadband = 0) {
    host::THostTag t;
    t.Id = id;
    t.Name = name;
    t.Routing = routing;
    t.Value = value;
    t.Deadband = deadband;
    return t;
}

} // namespace host_test
