// The operator console program's body: the application with Qt's own texts in Chinese, the main
// window (its creation runs the start sequence) and the security filter dialog, then the event loop
// until the main window closes. The shipped program and test-only programs run it.
// Window thread (the program's main thread) only.
#pragma once

#include <functional>

class QCoreApplication;
class TMainForm;

// Installs Qt's zh_CN translations (folder picker, text field menus, standard buttons) from Qt's
// translations folder; false when they are not there.
bool LoadQtTranslations(QCoreApplication& app);

// Runs the console; `shown` is called once the main window is shown, before the event loop.
// Returns the event loop's exit code.
int RunConsole(int& argc, char* argv[], const std::function<void(TMainForm&)>& shown = {});
