// The test host's own Qt application, for the tests that drive the module's windows.
#pragma once

#include <QApplication>

namespace dlmtest {

// Made once on the test thread, as a Qt host has one; the module's windows then use it.
inline void UseHostApplication() {
    if (QApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "module_dlm_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

} // namespace dlmtest
