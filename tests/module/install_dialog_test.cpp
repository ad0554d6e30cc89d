#include "module/install.h"

#include "styledbuttons/button_test_support.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallDialog, PicturesOfTheStyledButtonsInTheirStates) {
    module::TInstallProcDialog dialog;
    dialog.ProcessMemo.Lines().Add("GUID={00000000-0000-0000-0000-000000000000}");
    const std::vector<QImage> pictures =
        sbtest::SaveButtonStates(dialog, {&dialog.CancelBitBtn, &dialog.SaveLogBitBtn}, "install_dialog_buttons");
    EXPECT_TRUE(sbtest::FourDistinctPictures(pictures));
}

} // namespace
