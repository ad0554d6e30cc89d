#include "platform/names.h"

#include <cstdlib>

namespace platform {

std::string ObjectNamespace() {
    const char* ns = std::getenv("OSTROLINKA_NAMESPACE");
    if (ns == nullptr) return {};
    std::string out(ns);
    for (char& c : out) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-';
        if (!ok) c = '_';
    }
    return out;
}

std::string NamespacedName(std::string_view name) {
    const std::string ns = ObjectNamespace();
    if (ns.empty()) return std::string(name);
    return ns + "." + std::string(name);
}

} // namespace platform
