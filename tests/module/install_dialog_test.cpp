#include "module/install.h"

#include "styledbuttons/button_states.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallDialog, PicturesOfTheStyledButtonsInTheirStates) {
    module::TInstallProcDialog dialog;
    dialog.ProcessMemo.Lines().Add("GUID={00000000-0000-0000-0000-000000000000}");
    const std::vector<QImage> pictures =
        sbtest::SaveButtonStates(dialog, {&dialog.CancelBitBtn, &dialog.SaveLogBitBtn}, "install_dialog_buttons");
    ASSERT_EQ(pictures.size(), 4u);
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j) EXPECT_NE(pictures[i], pictures[j]) << i << " " << j;
}

} // namespace
