#include "framework/user_files.h"

#include <sys/stat.h>

#include "platform/files.h"
#include "platform/text.h"

namespace framework {

namespace {

// A name that can take a backup of bytes without losing any: nothing there, a link (replaced, what it
// points to is not touched) or a file holding these very bytes. A name that cannot even be looked at
// counts as free: writing it then fails and says why.
bool Free(const std::string& name, const std::string& bytes) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return true;
    std::string held;
    return S_ISREG(st.st_mode) && platform::ReadRegularFile(name, held) && held == bytes;
}

} // namespace

bool KeepBackup(const std::string& fileName, std::string& kept, std::string& why) {
    std::string bytes;
    struct stat st {};
    if (!platform::ReadRegularFile(fileName, bytes, &why) || ::stat(fileName.c_str(), &st) != 0) {
        if (why.empty()) why = "Файл \""_cp + fileName + "\" не найден."_cp;
        return false;
    }
    kept = fileName + ".bak";
    for (int n = 1; !Free(kept, bytes); ++n)
        kept = fileName + ".bak" + platform::IntToStr(n);
    return platform::ReplaceRegularFile(kept, bytes, platform::TLinkAtName::Replace,
                                        {static_cast<int>(st.st_mode & 07777), st.st_uid, st.st_gid}, &why);
}

} // namespace framework
