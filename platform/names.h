// Named objects of the platform layer (shared blocks, window endpoints) live in a namespace: when
// OSTROLINKA_NAMESPACE is set, its value is part of every name, so that parallel tests and several
// hosts on one machine stay apart. Started processes inherit the variable with the environment.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The namespace text, empty when OSTROLINKA_NAMESPACE is unset or empty.
std::string ObjectNamespace();
// `name` inside the namespace: unchanged when there is none, else "<namespace>." + name. Characters
// other than letters, digits, '.', '_' and '-' in the namespace become '_', so that the result stays
// a valid single path component.
std::string NamespacedName(std::string_view name);

} // namespace platform
