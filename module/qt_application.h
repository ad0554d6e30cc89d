// The module's windows need a QApplication, but the host that loaded the module need not be a Qt
// program: the application is made on the first call that shows a window, on the host's thread.
#pragma once

namespace module {

// Makes the QApplication when there is none (offscreen without a display) and answers true; a host's
// own QApplication is used as it is. False when widgets cannot be made on the calling thread: the host
// runs a Qt application without widgets, or runs it on another thread.
bool UseApplication();

} // namespace module
