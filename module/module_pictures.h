// Pictures of the module's windows: files installed beside the module itself.
#pragma once

#include <string>

#include "styledbuttons/pixels/bitmap24.h"
#include "ui/std_controls.h"

namespace module {

// The directory of the file that the module's code was loaded from, with a separator at its end.
std::string ModuleDirectory();

// The picture file of that name beside the module (a bitmap or a JPEG image); empty when it is
// missing or cannot be read (the log says why when it is no regular file or too large).
styledbuttons::Bitmap24 ModulePicture(const std::string& fileName);

// Shows the picture in the image; an empty picture shows nothing.
void ShowPicture(ui::TImage& image, const styledbuttons::Bitmap24& picture);

} // namespace module
