// Every button of both programs is a styled one: no plain push button under server/ or module/, and
// the check the window walk makes on every live window tells plain buttons from the rest (on the
// programs' sound windows it finds none, so only here does it show that it can).
#include "styledbuttons/button_clicks.h"
#include "styledbuttons/sbutton.h"
#include "ui/application.h"
#include "ui/control_test_access.h"
#include "ui/form.h"
#include "ui/page_control.h"
#include "ui/std_controls.h"
#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <QRadioButton>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::regex PlainButton(R"(\b(ui::TButton|TButton|QPushButton)\b)");

// The lines of a source text that use a plain push button.
std::vector<int> PlainButtonLines(const std::string& text) {
    std::vector<int> lines;
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (std::regex_search(line, PlainButton)) lines.push_back(n);
    return lines;
}

TEST(PlainButtons, TheScanTellsPlainFromStyledButtons) {
    EXPECT_EQ(
        PlainButtonLines("ui::TButton OkBitBtn;\nstyledbuttons::TsBitBtn Other;\nnew QPushButton(\"x\");\n"),
        (std::vector<int>{1, 3}));
    EXPECT_TRUE(PlainButtonLines("TsButton a; TsBitBtn b; TButtonLayout c; MyTButtonX d;").empty());
}

TEST(PlainButtons, NoneUnderServerOrModule) {
    int scanned = 0;
    for (const char* folder : {"server", "module"}) {
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(QUILLARY_SOURCE_DIR) / folder)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
            std::ifstream in(entry.path());
            std::stringstream text;
            text << in.rdbuf();
            ++scanned;
            for (int line : PlainButtonLines(text.str()))
                ADD_FAILURE() << entry.path() << ":" << line;
        }
    }
    EXPECT_GT(scanned, 10) << "the source tree was not found";
}

TEST(PlainButtons, TheWindowWalkFindsPlainButtonsOnEveryPageAndNothingElse) {
    ui::EnsureApplication();
    ui::TForm form;
    ui::TPageControl pages(&form);
    ui::TTabSheet shown(pages, "one"), hidden(pages, "two");
    styledbuttons::TsBitBtn styled(&shown, "Styled");
    ui::TCheckBox check(&shown, "Check");
    new QRadioButton("Radio", uitest::WidgetOf(shown));
    ui::TButton plain(&hidden, "Plain");
    (new QToolButton(uitest::WidgetOf(form)))->setText("Tool");
    std::vector<std::string> found = sbtest::PlainButtons(uitest::WidgetOf(form));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"QPushButton \"Plain\"", "QToolButton \"Tool\""}));
}

} // namespace
