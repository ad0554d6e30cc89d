#include "module/module_pictures.h"

#include <dlfcn.h>

#include "framework/driver_error.h"
#include "styledbuttons/pixels/picture.h"

namespace module {

std::string ModuleDirectory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) == 0 || info.dli_fname == nullptr)
        return "./";
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

styledbuttons::Bitmap24 ModulePicture(const std::string& fileName) {
    styledbuttons::TPicture picture;
    std::string why;
    styledbuttons::LoadPictureFile(picture, ModuleDirectory() + fileName, false, &why);
    if (!why.empty()) framework::Report(framework::kErrNone, why);
    return picture.Empty() ? styledbuttons::Bitmap24() : picture.Image;
}

void ShowPicture(ui::TImage& image, const styledbuttons::Bitmap24& picture) {
    if (picture.Empty()) {
        image.Clear();
        return;
    }
    image.SetPicture(picture.Width(), picture.Height(), picture.Stride(), picture.Bits());
}

} // namespace module
