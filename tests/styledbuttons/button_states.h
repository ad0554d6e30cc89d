// Pictures of a window whose styled buttons are shown normal, as the active default, pressed and
// disabled, for review in the build's test-output folder.
#pragma once

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
        std::filesystem::path(bin ? bin : std::filesystem::temp_directory_path().c_str()).parent_path() / "test-output";
    std::filesystem::create_directories(dir);
    return dir;
}

// Saves <stem>_normal.png, _active_default.png (the first button the default one), _pressed.png and
// _disabled.png (every button so), puts the buttons back as they were and returns the pictures.
inline std::vector<QImage> SaveButtonStates(ui::TForm& form, const std::vector<styledbuttons::TsBitBtn*>& buttons,
                                            const std::string& stem) {
    std::vector<QImage> pictures;
    auto save = [&](const char* state) {
        const std::filesystem::path png = TestOutputDir() / (stem + "_" + state + ".png");
        if (form.SaveImage(png.string())) pictures.emplace_back(QString::fromStdString(png.string()));
    };
    save("normal");
    const bool wasDefault = buttons.front()->Default();
    buttons.front()->SetDefault(true);
    save("active_default");
    buttons.front()->SetDefault(wasDefault);
    for (auto* b : buttons) b->SetPressed(true);
    save("pressed");
    for (auto* b : buttons) b->SetPressed(false);
    for (auto* b : buttons) b->SetEnabled(false);
    save("disabled");
    for (auto* b : buttons) b->SetEnabled(true);
    return pictures;
}

} // namespace sbtest
