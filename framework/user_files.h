// Saving the user's files (configuration, settings, description): a new file is written beside the
// old one and renamed over it, and old bytes that are about to go can first be kept beside it as
// <name>.bak.
#pragma once

#include <string>

namespace framework {

// Writes text to fileName through a temporary file renamed over it; a link is followed and the
// file's permission bits are kept. False leaves the old file whole.
bool ReplaceFile(const std::string& fileName, const std::string& text);

// The name the old bytes of fileName are kept under.
std::string BackupName(const std::string& fileName);

// Keeps the bytes of fileName as BackupName(fileName), through ReplaceFile. False when they could
// not be read or written; then nothing about to replace fileName may go ahead.
bool KeepBackup(const std::string& fileName);

} // namespace framework
