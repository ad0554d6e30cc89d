// The application object of a program with windows: the one QApplication of the process (made on first
// use, since the host that loads the module need not be a Qt program), and the pump that lets the
// platform's window messages reach our windows from inside Qt's event loops.
#pragma once

#include <functional>
#include <string>

class QString;

namespace ui {

class TForm;
class TIcon;

// Makes sure a QApplication exists; without a display it runs offscreen. On the thread of the
// application it also installs the wake hook, so that messages sent or posted to windows of that
// thread are dispatched from Qt's loop (modal loops included), and the loop hook, so that the
// platform layer's waits on that thread serve Qt's loop.
void EnsureApplication();

// Whether windows can be made on the calling thread: it is the thread of the process's widgets
// application, or there is no application yet (EnsureApplication makes it there). False when a host runs
// a Qt application without widgets, or runs it on another thread.
bool OnApplicationThread();

// Runs an event handler; an exception ends there (HandlerRaised), since it must not unwind through Qt.
void RunHandler(const std::function<void()>& handler);
// Takes the exception being handled where our code returns to Qt: it ends the innermost modal loop,
// whose ShowModal throws it again, so that whoever opened the window hears what failed;
// outside a modal loop it is only written to the console.
void HandlerRaised();

class TApplication {
public:
    void Initialize() { EnsureApplication(); }
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }
    // The icon of every window of the program.
    void SetIcon(const TIcon& icon);

    // Runs the event loop until Terminate, which closing the main form calls (also before Run: then
    // Run returns at once).
    void Run(TForm& mainForm);
    void Terminate();
    bool Terminated() const { return terminated_; }
    TForm* MainForm() const { return mainForm_; }
    void ForgetForm(TForm* form);

    // Dispatches pending Qt events and window messages, then returns.
    void ProcessMessages();

private:
    std::string title_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
};

TApplication& Application();

// The edge between the library's cp1251 text and Qt's.
QString ToQt(const std::string& cp1251);
std::string FromQt(const QString& text);

} // namespace ui
