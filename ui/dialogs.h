// File dialogs.
#pragma once

#include <string>

namespace ui {

class TSaveDialog {
public:
    std::string Title;
    // The name offered, and after Execute the name chosen: the file system's own bytes, as every file
    // name of the library.
    std::string FileName;
    // Pairs of description and patterns: "Text files|*.txt;*.log|All files|*.*".
    std::string Filter;
    // Added to a name given without one.
    std::string DefaultExt;

    // Asks modally for a file name; true when the user chose one.
    bool Execute();
};

// The filter in Qt's form: "Text files (*.txt *.log);;All files (*.*)".
std::string QtFilter(const std::string& filter);

} // namespace ui
