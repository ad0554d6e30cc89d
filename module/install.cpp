#include "module/install.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "framework/user_files.h"
#include "module/module_init.h"
#include "module/qt_application.h"
#include "platform/files.h"
#include "platform/text.h"

namespace module {
namespace {

constexpr ui::TColor clMaroon = 0x000080;

std::string Text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

// The directory text and the name, trimmed as a whole.
std::string FilePath(const std::string& dir, const std::string& name) {
    return platform::Trim(dir + name);
}

// The extension is what follows the last dot of the name part.
std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

// Two names of one file (the same folder reached another way): copying would only rewrite it. Letter
// case tells nothing here, since names differing only in case are different files.
bool SamePath(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// A file to copy: a regular file, or a link to one.
bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A name to delete: any entry, a link itself rather than what it points to. An entry that cannot be
// deleted as a file (a directory) then makes the removal fail instead of being passed over.
bool EntryExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::string GuidText(const uint8_t guid[16]) {
    // The first three groups are little-endian numbers, the last two plain bytes.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string text = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += platform::IntToHex(guid[kOrder[i]], 2);
    }
    return text + "}";
}

bool CopyFileReplacing(const std::string& src, const std::string& dst) {
    std::string bytes;
    struct stat st;
    return platform::ReadRegularFile(src, bytes) && ::stat(src.c_str(), &st) == 0 &&
           platform::ReplaceRegularFile(dst, bytes, platform::TLinkAtName::Follow,
                                        {.Mode = static_cast<int>(st.st_mode & 0777)});
}

TInstallProcDialog::TInstallProcDialog()
    : MessageLabel(this), ProcessMemo(this), SaveLogBitBtn(this, "Сохранить..."_cp),
      CancelBitBtn(this, "Закрыть"_cp) {
    SetCaption("Установка драйвера..."_cp);
    SetClientSize(500, 340);
    SetFixedSize(true);
    MessageLabel.SetBounds(8, 8, 484, 72);
    MessageLabel.SetWordWrap(true);
    MessageLabel.SetFontBold(true);
    MessageLabel.SetFontColor(clMaroon);
    MessageLabel.SetCaption(
        "При установке драйвера произошли серьезные ошибки. Пожалуйста, проанализируйте журнал "
        "установки драйвера. В случае необходимости, сохраните содержимое журнала в файл и "
        "свяжитесь со службой технической поддержки компании Pravel Software House."_cp);
    ProcessMemo.SetBounds(8, 88, 484, 204);
    ProcessMemo.SetReadOnly(true);
    ProcessMemo.ShowVerticalScrollBar();
    SaveLogBitBtn.SetBounds(8, 302, 110, 30);
    SaveLogBitBtn.OnClick = [this] { SaveLogBitBtnClick(); };
    CancelBitBtn.SetBounds(382, 302, 110, 30);
    CancelBitBtn.SetModalResult(ui::mrCancel);
    styledbuttons::ApplyFormButtonLook({&SaveLogBitBtn, &CancelBitBtn});
    SaveDialog.Title = "Сохранить журнал как..."_cp;
    SaveDialog.Filter = "Текстовые файлы (*.txt)|*.txt"_cp;
    // "*.txt" as the default extension stands for the txt extension.
    SaveDialog.DefaultExt = "txt";
    CenterOnScreen();
}

void TInstallProcDialog::SaveLogBitBtnClick() {
    if (SaveDialog.Execute()) ProcessMemo.Lines().SaveToFile(SaveDialog.FileName);
}

bool TInstallProcDialog::KeepReplaced(const std::string& src, const std::string& dst) {
    std::string fresh, old, kept, why;
    if (!FileExists(dst)) return true;
    // Old bytes that cannot be compared with the new ones, or kept, are not replaced.
    if (!platform::ReadRegularFile(src, fresh) || !platform::ReadRegularFile(dst, old)) return false;
    if (old == fresh) return true;
    if (!framework::KeepBackup(dst, kept, why)) {
        Log(why);
        return false;
    }
    Log("Прежний файл сохранен как: "_cp + kept);
    return true;
}

TInstallProcDialog::TCopyOutcome TInstallProcDialog::CopyStep(const std::string& header,
                                                              const std::string& src, const std::string& dst,
                                                              const std::string& missingLine, bool keepOld) {
    Log(header);
    Log("Исходный файл: "_cp + src);
    Log("Целевой файл: "_cp + dst);
    if (!FileExists(src)) {
        if (!missingLine.empty()) Log(missingLine);
        return TCopyOutcome::Missing;
    }
    // The same file named twice is already in place.
    if (!SamePath(src, dst) && ((keepOld && !KeepReplaced(src, dst)) || !CopyFileReplacing(src, dst))) {
        Log("ERROR: Ошибка копирвания файла!"_cp);
        return TCopyOutcome::Failed;
    }
    Log("Успешное копирование файла."_cp);
    return TCopyOutcome::Done;
}

bool TInstallProcDialog::Install(framework::TDriver& driver, const std::string& sourceDir,
                                 const std::string& targetDir) {
    bool result = true;
    FatalError = false;
    // A folder named without its separator would have the files named beside it; an empty one names
    // files where the host runs, as it always did.
    const auto folder = [](const std::string& dir) { return dir.empty() ? dir : WithTrailingSeparator(dir); };
    SourceDir = folder(sourceDir);
    TargetDir = folder(targetDir);

    framework::TDeviceInfoRecord info;
    driver.GetDeviceInfo(info);
    Log("GUID=" + GuidText(info.GUID));
    Log("Name=" + std::string(info.Title, ::strnlen(info.Title, sizeof info.Title)));

    const std::string server = driver.GetServerFileName();
    if (CopyStep("Копируем сервер доступа к устройству..."_cp, FilePath(SourceDir, server),
                 FilePath(TargetDir, server), "ERROR: Файл не найден!"_cp) != TCopyOutcome::Done) {
        result = false;
        FatalError = true;
    }

    const std::string configHeader = "Копируется конфигурационный файл по умолчанию..."_cp;
    const std::string noConfig = "WARRNING: Файл конфигурации поумолчанию не определен."_cp;
    const std::string configSrc = FilePath(SourceDir, driver.GetConfigFileName());
    const std::string configDst = FilePath(TargetDir, driver.GetConfigFileName());
    if (CopyStep(configHeader, configSrc, configDst, noConfig, true) == TCopyOutcome::Failed) result = false;

    // The settings file and the device description go with the configuration, unless it is in place.
    const std::string iniSrc = ChangeFileExt(configSrc, ".ini");
    const std::string iniDst = ChangeFileExt(configDst, ".ini");
    if (!SamePath(iniSrc, iniDst) &&
        CopyStep(configHeader, iniSrc, iniDst, noConfig, true) == TCopyOutcome::Failed)
        result = false;
    const std::string eddSrc = ChangeFileExt(configSrc, ".edd");
    const std::string eddDst = ChangeFileExt(configDst, ".edd");
    if (!SamePath(eddSrc, eddDst) &&
        CopyStep("Копируется файл описания устройства..."_cp, eddSrc, eddDst,
                 "WARRNING: Файл описания устроства не определен."_cp, true) == TCopyOutcome::Failed)
        result = false;

    const std::string icon = driver.GetModuleName() + ".ico";
    const std::string iconSrc = FilePath(SourceDir, icon);
    if (FileExists(iconSrc) && CopyStep("Копируется файл пиктограммы сервера..."_cp, iconSrc,
                                        FilePath(TargetDir, icon), std::string()) == TCopyOutcome::Failed)
        result = false;

    if (!FatalError) {
        MessageLabel.SetCaption("При установке драйвера контроллера WAGO произошли ошибки, не влияющие на "
                                "работоспособность драйвера. Проанализируйте журнал установки драйвера."_cp +
                                " В случае необходимости, сохраните содержимое журнала в файл и свяжитесь со "
                                "службой технической поддержки компании Pravel Software House."_cp);
    }
    return result;
}

bool InstallDriver(framework::TDriver& driver, const char* sourceDir, const char* targetDir) {
    // A blank target would name files wherever the host happens to run.
    if (platform::Trim(Text(targetDir)).empty()) return false;
    // Without a window to show the log in, nothing is installed.
    if (!UseApplication()) return false;
    TInstallProcDialog dialog;
    if (dialog.Install(driver, Text(sourceDir), Text(targetDir))) return true;
    dialog.ShowModal();
    return !dialog.FatalError;
}

bool RemoveDriver(framework::TDriver& driver, const char* directory) {
    // An empty text would name files wherever the host happens to run; a folder named without its
    // separator would have the files beside it deleted.
    if (Text(directory).empty()) return false;
    const std::string dir = WithTrailingSeparator(Text(directory));
    // Each file only once everything before it went; the answer is that of the last delete tried.
    bool result = true;
    for (const std::string& name :
         {driver.GetServerFileName(), driver.GetConfigFileName(), driver.GetModuleName() + ".ico"}) {
        const std::string path = dir + name;
        if (!EntryExists(path)) continue;
        result = ::unlink(path.c_str()) == 0;
        if (!result) break;
    }
    return result;
}

} // namespace module
