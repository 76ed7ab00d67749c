// The operator console program: the main window (its creation runs the start sequence) and the
// security filter dialog, then the event loop until the main window closes.
// With NUVO_SCREENSHOT_DIR set, the program photographs its main window once the first load pass
// has started the service, then its file rules dialog, writes main.png and filerules.png into that
// folder and ends (the README's pictures are made this way).
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <memory>

#include "console/MainUnit.h"
#include "console/PacketRuleConfig.h"
#include "console/uConsoleDialogs.h"
#include "settings/TarnShare.h"
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
  QApplication app(argc, argv);
  QApplication::setApplicationName("NuvoClientServer");
  QApplication::setFont(ConsoleFont());

  auto form = std::make_unique<TMainForm>();
  MainForm = form.get();
  auto packetRule = std::make_unique<TfrmPacketRule>();
  frmPacketRule = packetRule.get();
  form->show();

  const QString shots = qEnvironmentVariable("NUVO_SCREENSHOT_DIR");
  if (!shots.isEmpty()) TakeScreenshots(*form, shots);

  const int rc = QApplication::exec();
  frmPacketRule = nullptr;
  packetRule.reset();
  MainForm = nullptr;
  form.reset();
  return rc;
}
