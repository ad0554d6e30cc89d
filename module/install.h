// Installing the driver's companion files into the host's driver folder, with the log window that is
// shown when something went wrong, and removing them again.
//
// A path is the directory text, with a separator at its end when it has none, followed by the file
// name. An empty source folder is taken as it stands (the files are named where the host runs); a
// blank target folder, and an empty folder to remove from, are refused.
#pragma once

#include <string>

#include "framework/driver.h"
#include "styledbuttons/sbutton.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "ui/memo.h"
#include "ui/std_controls.h"

namespace module {

class TInstallProcDialog : public ui::TForm {
public:
    TInstallProcDialog();

    // Copies the files of the driver from sourceDir to targetDir, logging each step into
    // ProcessMemo; false when anything went wrong, FatalError when the server could not be installed.
    bool Install(framework::TDriver& driver, const std::string& sourceDir, const std::string& targetDir);
    // Asks for a file name and saves the log there.
    void SaveLogBitBtnClick();

    ui::TLabel MessageLabel;
    ui::TMemo ProcessMemo;
    styledbuttons::TsBitBtn SaveLogBitBtn;
    styledbuttons::TsBitBtn CancelBitBtn;
    ui::TSaveDialog SaveDialog;

    std::string SourceDir;
    std::string TargetDir;
    bool FatalError = false;

private:
    enum class TCopyOutcome { Done, Missing, Failed };
    // The header, the two path lines, then the copy (or missingLine when src is not there). With
    // keepOld, a dst that differs from src is first kept beside it (KeepReplaced).
    TCopyOutcome CopyStep(const std::string& header, const std::string& src, const std::string& dst,
                          const std::string& missingLine, bool keepOld = false);
    // A user's file that the copy of src is about to replace keeps its bytes beside it (KeepBackup),
    // and the log names the file they went to; the same bytes as src need no keeping. False when they
    // could not be kept.
    bool KeepReplaced(const std::string& src, const std::string& dst);
    void Log(const std::string& line) { ProcessMemo.Lines().Add(line); }
};

// The bodies of DLMInstallDriver and DLMRemoveDriver for an existing driver object. A null directory
// text counts as an empty one.
bool InstallDriver(framework::TDriver& driver, const char* sourceDir, const char* targetDir);
bool RemoveDriver(framework::TDriver& driver, const char* directory);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the platform's GUID bytes.
std::string GuidText(const uint8_t guid[16]);

// Replaces dst with a copy of src (its bytes and permission bits) through platform::ReplaceRegularFile:
// a copy that fails half-way leaves the old dst as it was, a link at dst, the user's own, stays, and
// a replaced dst's owner keeps the file.
bool CopyFileReplacing(const std::string& src, const std::string& dst);

} // namespace module
