// Pictures of a window whose styled buttons are shown normal, as the active default, pressed and
// disabled, for review in the build's test-output folder.
#pragma once

#include "styledbuttons/button_clicks.h"
#include "styledbuttons/sbutton.h"
#include "ui/form.h"

#include <QImage>
#include <QString>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace sbtest {

inline std::filesystem::path TestOutputDir() {
    const char* bin = std::getenv("QUILLARY_BIN");
    const std::filesystem::path dir =
        std::filesystem::path(bin ? bin : std::filesystem::temp_directory_path().c_str()).parent_path() /
        "test-output";
    std::filesystem::create_directories(dir);
    return dir;
}

// Saves <stem>_normal.png (the first button not the default one), _active_default.png (it the
// default one), _pressed.png and _disabled.png (every button so), puts the buttons back as they were
// and returns the pictures.
inline std::vector<QImage> SaveButtonStates(ui::TForm& form,
                                            const std::vector<styledbuttons::TsBitBtn*>& buttons,
                                            const std::string& stem) {
    std::vector<QImage> pictures;
    auto save = [&](const char* state) {
        const std::filesystem::path png = TestOutputDir() / (stem + "_" + state + ".png");
        if (form.SaveImage(png.string())) pictures.emplace_back(QString::fromStdString(png.string()));
    };
    const bool wasDefault = buttons.front()->Default();
    buttons.front()->SetDefault(false);
    save("normal");
    buttons.front()->SetDefault(true);
    save("active_default");
    buttons.front()->SetDefault(wasDefault);
    for (auto* b : buttons)
        b->SetPressed(true);
    save("pressed");
    for (auto* b : buttons)
        b->SetPressed(false);
    for (auto* b : buttons)
        b->SetEnabled(false);
    save("disabled");
    for (auto* b : buttons)
        b->SetEnabled(true);
    return pictures;
}

// Four pictures and no two alike: each state changed the look.
inline bool FourDistinctPictures(const std::vector<QImage>& pictures) {
    if (pictures.size() != 4) return false;
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j)
            if (pictures[i] == pictures[j]) return false;
    return true;
}

} // namespace sbtest
