// Test-only program that takes the README's pictures of the console (scripts/screenshots.sh):
// it runs the console in the current folder, photographs the main window once the first load pass
// has started the service, then the file rules dialog, writes main.png and filerules.png into
// OUTPUT_DIR and ends.
//   NuvoClientScreenshots OUTPUT_DIR
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "console/ConsoleProgram.h"
#include "console/MainUnit.h"
#include "service/ServiceState.h"

namespace {

void TakeScreenshots(TMainForm& form, const QString& dir) {
  auto* poll = new QTimer(&form);
  poll->setInterval(100);
  QObject::connect(poll, &QTimer::timeout, &form, [&form, poll, dir] {
    if (!g_boStart || form.PanelText(1) != "运行中") return;
    poll->stop();
    // Let the traffic line and the last log lines arrive first.
    QTimer::singleShot(3000, &form, [&form, dir] {
      form.grab().save(QDir(dir).filePath("main.png"));
      QTimer::singleShot(500, &form, [dir] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
          dialog->grab().save(QDir(dir).filePath("filerules.png"));
          dialog->close();
        }
        QApplication::quit();
      });
      form.findChild<QAction*>("N13")->trigger();
    });
  });
  poll->start();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  int qtArgc = 1;
  return RunConsole(qtArgc, argv, [dir](TMainForm& form) { TakeScreenshots(form, dir); });
}
