// The console's message boxes, input boxes, folder picker and application error box, each behind
// a replaceable hook so tests can answer them; and the font every console window uses.
// Window thread only.
#pragma once

#include <QFont>
#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

struct TConsoleDialogs {
  // Returns the button pressed.
  std::function<QMessageBox::StandardButton(QWidget* owner, const QString& text, const QString& caption,
                                            QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)>
      MessageBox;
  // A one-line input box starting with `value`; true and the text in `value` on OK.
  std::function<bool(QWidget* owner, const QString& caption, const QString& prompt, QString& value)> InputQuery;
  // A folder picker starting at `directory`; true and the chosen folder in `directory` on OK.
  std::function<bool(QWidget* owner, const QString& prompt, QString& directory)> SelectDirectory;
};

// The hooks in use. Assign to replace one; ResetConsoleDialogs brings back the real dialogs.
TConsoleDialogs& ConsoleDialogs();
void ResetConsoleDialogs();

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
bool InputQuery(QWidget* owner, const QString& caption, const QString& prompt, QString& value);
bool SelectDirectory(QWidget* owner, const QString& prompt, QString& directory);

// The application's error box: the text of an error that reached a window, under the program's
// name, with the error icon.
void ShowErrorBox(QWidget* owner, const QString& text);

// Runs `action`; an error it raises goes to the error box instead of the event loop.
template <typename F>
void WithErrorBox(QWidget* owner, F&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    ShowErrorBox(owner, QString::fromUtf8(e.what()));
  }
}

// SimSun 12 pixels high, with the CJK faces a Linux desktop has in its place.
QFont ConsoleFont();
// `text` without trailing "\" and "/".
QString WithoutTrailingSeparators(QString text);
