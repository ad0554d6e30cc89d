// Keeping the old bytes of a user's file (configuration, settings, description) beside it before
// something replaces them.
#pragma once

#include <string>

namespace framework {

// Keeps the bytes of fileName beside it: a new file with its permission bits and owner under the
// first of <name>.bak, <name>.bak1, <name>.bak2, ... that holds no other bytes. A link at such a name
// is replaced, never written through. kept gets the name written; false with the log line (cp1251) in
// why when the bytes could not be read or written, and then nothing may replace fileName.
bool KeepBackup(const std::string& fileName, std::string& kept, std::string& why);

} // namespace framework
