#include "console/uConsoleDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>

namespace {

TConsoleDialogs RealDialogs() {
  TConsoleDialogs d;
  d.MessageBox = [](QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon,
                    QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  };
  d.InputQuery = [](QWidget* owner, const QString& caption, const QString& prompt, QString& value) {
    bool ok = false;
    const QString text = QInputDialog::getText(owner, caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok) value = text;
    return ok;
  };
  d.SelectDirectory = [](QWidget* owner, const QString& prompt, QString& directory) {
    const QString chosen = QFileDialog::getExistingDirectory(owner, prompt, directory);
    if (chosen.isEmpty()) return false;
    directory = chosen;
    return true;
  };
  return d;
}

}  // namespace

TConsoleDialogs& ConsoleDialogs() {
  static TConsoleDialogs dialogs = RealDialogs();
  return dialogs;
}

void ResetConsoleDialogs() { ConsoleDialogs() = RealDialogs(); }

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  return ConsoleDialogs().MessageBox(owner, text, caption, icon, buttons);
}

bool InputQuery(QWidget* owner, const QString& caption, const QString& prompt, QString& value) {
  return ConsoleDialogs().InputQuery(owner, caption, prompt, value);
}

bool SelectDirectory(QWidget* owner, const QString& prompt, QString& directory) {
  return ConsoleDialogs().SelectDirectory(owner, prompt, directory);
}

void ShowErrorBox(QWidget* owner, const QString& text) {
  // A message that does not end in a full stop gets one, as the error box has always shown it.
  QString message = text;
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) message += QLatin1Char('.');
  ShowMessageBox(owner, message, QApplication::applicationName(), QMessageBox::Critical);
}

QFont ConsoleFont() {
  QFont font;
  font.setFamilies({"SimSun", "宋体", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans Mono CJK SC"});
  font.setPixelSize(12);
  return font;
}

QString WithoutTrailingSeparators(QString text) {
  while (!text.isEmpty() && (text.back() == QLatin1Char('\\') || text.back() == QLatin1Char('/'))) text.chop(1);
  return text;
}
