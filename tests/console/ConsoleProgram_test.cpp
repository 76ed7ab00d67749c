// The console program's application setup.
#include "console/ConsoleProgram.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLibraryInfo>
#include <QPushButton>
#include <QtTest>

class ConsoleProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void qtOwnTextsAreChinese() {
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(dir + "/qtbase_zh_CN.qm")) QSKIP("Qt's zh_CN translations are not installed");
    const QDialogButtonBox before(QDialogButtonBox::Cancel);
    QCOMPARE(before.button(QDialogButtonBox::Cancel)->text(), QString("Cancel"));
    QVERIFY(LoadQtTranslations(*qApp));
    const QDialogButtonBox after(QDialogButtonBox::Cancel);
    QCOMPARE(after.button(QDialogButtonBox::Cancel)->text(), QString("取消"));
  }
};

QTEST_MAIN(ConsoleProgramTest)
#include "ConsoleProgram_test.moc"
