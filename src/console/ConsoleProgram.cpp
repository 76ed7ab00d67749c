#include "console/ConsoleProgram.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "console/MainUnit.h"
#include "console/PacketRuleConfig.h"
#include "console/uConsoleDialogs.h"

bool LoadQtTranslations(QCoreApplication& app) {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get())) {
    return false;
  }
  translator.release()->setParent(&app);  // the application owns it from now on
  return true;
}

int RunConsole(int& argc, char* argv[], const std::function<void(TMainForm&)>& shown) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("NuvoClientServer");
  QApplication::setFont(ConsoleFont());
  LoadQtTranslations(app);

  auto form = std::make_unique<TMainForm>();
  MainForm = form.get();
  auto packetRule = std::make_unique<TfrmPacketRule>();
  frmPacketRule = packetRule.get();
  form->show();
  if (shown) shown(*form);

  const int rc = QApplication::exec();
  frmPacketRule = nullptr;
  packetRule.reset();
  MainForm = nullptr;
  form.reset();
  return rc;
}
