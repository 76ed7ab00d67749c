// The settings dialog and the file rules dialog it leads to.
#include "console/uConfig.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <new>

#include "ConsoleTestBed.h"
#include "console/MainUnit.h"
#include "console/uFileRulesDlg.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ReadFile.h"
#include "platform/TextFile.h"
#include "formats/Jpk.h"
#include "support/SharedStateTest.h"

namespace {

template <typename W>
W* Child(QWidget* parent, const char* name) {
  W* w = parent->findChild<W*>(name);
  if (!w) qFatal("no widget %s", name);
  return w;
}

// Replaces the field's text by typing `text`, one key per character (any script).
template <typename Field>
void Type(Field* field, const QString& text) {
  field->selectAll();
  for (const QChar ch : text)
    QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

std::string IniValue(const std::string& key) {
  return TIniFile("./Config.ini").ReadString("Setup", key, "<none>");
}

// Looks at values only: the stored paths hold a temporary folder's random digits.
bool AnyIniValueIs(const std::string& value) {
  for (const std::string& line : ReadTextLines("./Config.ini")) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos && line.compare(eq + 1, std::string::npos, value) == 0) return true;
  }
  return false;
}

QStringList GridRow(QTableWidget* grid, int row) {
  QStringList cells;
  for (int c = 0; c < grid->columnCount(); ++c) cells << grid->item(row, c)->text();
  return cells;
}

QStringList HeaderTexts(QTableWidget* grid) {
  QStringList texts;
  for (int c = 0; c < grid->columnCount(); ++c) texts << grid->horizontalHeaderItem(c)->text();
  return texts;
}

QString MemoText(QWidget* dialog, const char* name) { return Child<QPlainTextEdit>(dialog, name)->toPlainText(); }

// Whether the status cell of `row` is filled yellow with red text on the grid as drawn.
bool CellRedOnYellow(QTableWidget* grid, int row) {
  const QImage image = grid->viewport()->grab().toImage();
  const QRect cell = grid->visualRect(grid->model()->index(row, TFrmFileRulesDlg::kStatusColumn));
  const qreal ratio = image.devicePixelRatio();
  auto pixel = [&](int x, int y) { return image.pixelColor(int(x * ratio), int(y * ratio)); };
  if (pixel(cell.right() - 2, cell.bottom() - 2) != QColor(Qt::yellow)) return false;
  for (int y = cell.top() + 2; y < cell.bottom(); ++y) {
    for (int x = cell.left() + 2; x < cell.left() + 60; ++x) {
      const QColor c = pixel(x, y);
      if (c.red() > 200 && c.green() < 90 && c.blue() < 90) return true;
    }
  }
  return false;
}

// Opens a file rules dialog on the given directories and runs `body` on it while it is shown.
void WithFileRules(const std::string& searchDir, const std::string& resourcesDir,
                   const std::function<void(TFrmFileRulesDlg*)>& body) {
  TFrmFileRulesDlg dialog;
  dialog.SearchDir = searchDir;
  dialog.ResourcesDir = resourcesDir;
  WhenModal([&body](QWidget* w) { body(qobject_cast<TFrmFileRulesDlg*>(w)); });
  dialog.Open();
}

// Every library file is there, and reading it fails with an error other than input/output: an
// allocation sized by a damaged file.
class TAllocationFails final : public TFileSource {
  struct TFile final : TReadFile {
    size_t ReadAt(uint64_t, void*, size_t) const override { throw std::bad_alloc(); }
    uint64_t Size() const override { return 1000; }
  };

 public:
  std::unique_ptr<TReadFile> Open(const std::string&) const override { return std::make_unique<TFile>(); }
  bool Exists(const std::string&) const override { return true; }
  std::vector<std::string> List(const std::string&) const override { return {}; }
};

void LoadLists() {
  LoadConfig();
  LoadJpkList();
  for (uint8_t n : {0, 1, 2}) LoadLibList(n);
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QLocale::setDefault(QLocale::c());
    bed_ = std::make_unique<TConsoleTestBed>();
  }
  void cleanup() { bed_.reset(); }

  void opensFilledAndUnchanged() {
    g_sTitle = "标题";
    g_sWClientPass = AnsiFromUtf8("密码");
    g_sSearchDir = "/srv/client";
    TFormConfig dialog;
    bool seen = false;
    WhenModal([&](QWidget* d) {
      QCOMPARE(d->windowTitle(), QString("基本设置"));
      QCOMPARE(Child<QLineEdit>(d, "EditTitle")->text(), QString("标题"));
      QCOMPARE(Child<QSpinBox>(d, "EditServerPort")->value(), 8800);
      QCOMPARE(Child<QSpinBox>(d, "EditMaxBandwidth")->value(), 100);
      QCOMPARE(Child<QSpinBox>(d, "EditMaxBandwidth")->maximum(), 1000);
      QCOMPARE(Child<QLineEdit>(d, "EditSearchDir")->text(), QString("/srv/client"));
      QVERIFY(Child<QLineEdit>(d, "EditSearchDir")->isReadOnly());
      QCOMPARE(Child<QLineEdit>(d, "EditWClientDir")->text(), QString("Resources"));
      QCOMPARE(Child<QLineEdit>(d, "EditWClientPass")->text(), QString("密码"));
      QVERIFY(!Child<QPushButton>(d, "ButtonSave")->isEnabled());
      QVERIFY(!dialog.boModValued);
      Type(Child<QLineEdit>(d, "EditWClientDir"), "x");
      QVERIFY(Child<QPushButton>(d, "ButtonSave")->isEnabled());
      seen = true;
    });
    dialog.Open();
    QVERIFY(seen);
    QCOMPARE(g_sWClientDir, std::string("Resources"));  // closed without saving: nothing stored
  }

  void resourceButtonOpensFileRulesOnlyWhileUnchanged() {
    bed_->Dir.WriteFile("JpkList.txt", "");
    g_sSearchDir = "/srv/a";
    TFormConfig dialog;
    QString opened;
    std::string searchDir, resourcesDir;
    WhenModal([&](QWidget* d) {
      WhenModal([&](QWidget* rules) {
        opened = rules->objectName();
        auto* dlg = qobject_cast<TFrmFileRulesDlg*>(rules);
        searchDir = dlg->SearchDir;
        resourcesDir = dlg->ResourcesDir;
        g_sSearchDir = "/srv/b";  // as a save in the file rules dialog would
      });
      Child<QPushButton>(d, "Button7")->click();
      QCOMPARE(Child<QLineEdit>(d, "EditSearchDir")->text(), QString("/srv/b"));

      dialog.uModValue();
      Type(Child<QLineEdit>(d, "EditTitle"), "y");
      Child<QPushButton>(d, "Button7")->click();  // refuses: no dialog opens
      QCOMPARE(bed_->Boxes.size(), size_t{1});
      QCOMPARE(bed_->Boxes[0].Text, QString("配置有更改请先保存！"));
      QCOMPARE(bed_->Boxes[0].Caption, QString("提示信息"));
      QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Information);
      QCOMPARE(bed_->Boxes[0].Owner, d);
    });
    dialog.Open();
    QCOMPARE(opened, QString("FrmFileRulesDlg"));
    QCOMPARE(searchDir, std::string("/srv/a"));
    QCOMPARE(resourcesDir, std::string("Resources"));
  }

  void saveValidatesStoresAndWritesThroughTheMainWindow() {
    bed_->WriteConfig(FreePort(), "");
    const std::string client = bed_->Dir.PathOf("客户端");
    std::filesystem::create_directory(client);
    TMainForm form;
    bool saved = false;
    WhenModal([&](QWidget* d) {
      Type(Child<QLineEdit>(d, "EditTitle"), "新标题");
      Type(Child<QSpinBox>(d, "EditServerPort"), "70000");
      Type(Child<QSpinBox>(d, "EditMaxBandwidth"), "500");
      Type(Child<QLineEdit>(d, "EditWClientPass"), "密码甲");

      Child<QPushButton>(d, "ButtonSave")->click();  // no client directory yet
      QCOMPARE(bed_->Boxes.size(), size_t{1});
      QCOMPARE(bed_->Boxes[0].Text, QString("Varrow目录不存在..."));
      QCOMPARE(bed_->Boxes[0].Caption, QString("错误信息"));
      QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Critical);
      QVERIFY(d->isVisible());
      QCOMPARE(g_sTitle, std::string("Varrow微端"));

      bed_->Picked = QString::fromStdString(client + "//");
      Child<QPushButton>(d, "ButtonSelectDir")->click();
      QCOMPARE(bed_->Pickers.at(0).Prompt, QString("请选择Varrow根目录"));
      QCOMPARE(Child<QLineEdit>(d, "EditSearchDir")->text(), QString::fromStdString(client));
      Child<QPushButton>(d, "ButtonSave")->click();
      saved = !d->isVisible();
    });
    form.findChild<QAction*>("N4")->trigger();
    QVERIFY(saved);
    QCOMPARE(g_sTitle, std::string("新标题"));
    QCOMPARE(g_nServerPort.load(), uint16_t{4464});
    QCOMPARE(g_nMaxBandwidth.load(), uint16_t{500});
    QCOMPARE(g_sSearchDir, client);
    QCOMPARE(g_sWClientPass, AnsiFromUtf8("密码甲"));
    QCOMPARE(form.windowTitle(), QString("Ostrel引擎微端服务器【新标题】"));
    QCOMPARE(IniValue("Port"), std::string("4464"));
    QCOMPARE(IniValue("WClientPass"), std::string("密码甲"));
    QVERIFY(!AnyIniValueIs("500"));

    // After a restart the bandwidth cap is back at 100; the rest was kept.
    form.FormDestroy();
    ResetSharedState();
    LoadConfig();
    QCOMPARE(g_nMaxBandwidth.load(), uint16_t{100});
    QCOMPARE(g_nServerPort.load(), uint16_t{4464});
    QCOMPARE(g_sWClientPass, AnsiFromUtf8("密码甲"));
  }

  void emptiedNumberFieldsReadAsZeroAndMarkTheDialogChanged() {
    g_sSearchDir = bed_->Dir.Path();
    for (const char* name : {"EditServerPort", "EditMaxBandwidth"}) {
      TFormConfig dialog;
      WhenModal([&](QWidget* d) {
        auto* box = Child<QSpinBox>(d, name);
        box->setValue(0);  // a field already at 0 is marked changed when emptied too
        dialog.uModValue();
        box->findChild<QLineEdit*>()->clear();
        QVERIFY2(dialog.boModValued, name);
        QVERIFY(Child<QPushButton>(d, "ButtonSave")->isEnabled());
        box->setValue(7);
        box->findChild<QLineEdit*>()->clear();
        // Leaving the field keeps the reading of the empty text instead of bringing back 7.
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &leave);
        QCOMPARE(box->text(), QString("0"));
        Child<QPushButton>(d, "ButtonSave")->click();
      });
      dialog.Open();
    }
    QCOMPARE(g_nServerPort.load(), uint16_t{0});
    QCOMPARE(g_nMaxBandwidth.load(), uint16_t{0});
    QCOMPARE(IniValue("Port"), std::string("0"));
  }

  void bandwidthFieldLeavesItsUnitInSight() {
    TFormConfig dialog;
    const QRect field = Child<QSpinBox>(&dialog, "EditMaxBandwidth")->geometry();
    QRect caption, unit;
    for (QLabel* l : dialog.findChildren<QLabel*>()) {
      if (l->text() == "最大带宽：") caption = l->geometry();
      if (l->text() == "MB") unit = l->geometry();
    }
    QVERIFY(caption.isValid() && unit.isValid());
    QVERIFY(caption.right() < field.left());
    QVERIFY2(field.right() < unit.left(), qPrintable(QString("%1 >= %2").arg(field.right()).arg(unit.left())));
    QVERIFY(unit.top() < field.bottom() && unit.bottom() > field.top());  // on the field's row
    QVERIFY(field.width() >= Child<QSpinBox>(&dialog, "EditMaxBandwidth")->minimumSizeHint().width());
  }

  void failedWriteKeepsTheDialogOpenAndChanged() {
    std::filesystem::create_directory("Config.ini");
    g_sSearchDir = bed_->Dir.Path();
    TFormConfig dialog;
    WhenModal([&](QWidget* d) {
      Type(Child<QSpinBox>(d, "EditServerPort"), "9000");
      Child<QPushButton>(d, "ButtonSave")->click();
      QCOMPARE(bed_->Boxes.size(), size_t{1});
      QVERIFY2(bed_->Boxes[0].Text.startsWith("Unable to write to"), qPrintable(bed_->Boxes[0].Text));
      QVERIFY(bed_->Boxes[0].Text.endsWith("."));
      QCOMPARE(bed_->Boxes[0].Caption, QApplication::applicationName());
      QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Critical);
      QVERIFY(d->isVisible());
      QVERIFY(dialog.boModValued);
      QVERIFY(Child<QPushButton>(d, "ButtonSave")->isEnabled());
    });
    dialog.Open();
    QCOMPARE(g_nServerPort.load(), uint16_t{9000});  // assigned before the write failed
  }

  void fileRulesGridStatusesAndPages() {
    const TClientInstall c = bed_->WriteClient(FreePort());
    LoadLists();
    g_JpkList.SetValue(c.Wzl, "any");                           // a WZL library has no password to fail
    g_JpkList.SetValue(bed_->Dir.PathOf("JpkList.txt"), "pw");  // neither JPK nor WZL: no library
    bed_->Dir.WriteUnreadable("client/Data/locked.jpk");        // there, but reading it fails
    g_JpkList.SetValue(c.Root + "/Data/locked.jpk", "pw");
    WithFileRules(c.Root, "", [&](TFrmFileRulesDlg* d) {
      QCOMPARE(d->windowTitle(), QString("客户端按照以下文件读取"));
      auto* grid = Child<QTableWidget>(d, "StringGridPak");
      QCOMPARE(Child<QTabWidget>(d, "PageControl1")->currentWidget(), grid);
      QCOMPARE(HeaderTexts(grid), (QStringList{"序号", "文件", "密码", "状态"}));
      QCOMPARE(grid->columnWidth(0), 100);
      QCOMPARE(grid->columnWidth(1), 500);
      QCOMPARE(grid->columnWidth(3), 150);
      QCOMPARE(grid->rowCount(), 6);
      const QString root = QString::fromStdString(c.Root);
      QCOMPARE(GridRow(grid, 0), (QStringList{"0", root + "/Data/ok.jpk", "pw-ok", "正常"}));
      QCOMPARE(GridRow(grid, 1), (QStringList{"1", root + "/Data/bad.jpk", "wrong", "密码错误"}));
      QCOMPARE(GridRow(grid, 2), (QStringList{"2", root + "/Data/gone.jpk", "pw", "文件不存在"}));
      QCOMPARE(GridRow(grid, 3).last(), QString("正常"));
      QCOMPARE(GridRow(grid, 4).last(), QString("文件不存在"));
      // The failure is told as it is, not as a missing file.
      QCOMPARE(GridRow(grid, 5).last(), "Cannot read file " + root + "/Data/locked.jpk: Input/output error");
      QVERIFY(CellRedOnYellow(grid, 5));

      QVERIFY(!CellRedOnYellow(grid, 0));
      QVERIFY(CellRedOnYellow(grid, 1));
      QVERIFY(CellRedOnYellow(grid, 2));

      QCOMPARE(MemoText(d, "MemoWzl"), QString::fromStdString(c.Wzl));
      QCOMPARE(MemoText(d, "MemoResources_Map"), QString::fromStdString(c.Map));
      QCOMPARE(MemoText(d, "MemoResources_Wav"), QString::fromStdString(c.Wav));
      QCOMPARE(MemoText(d, "MemoResources_Data"), QString());
      QVERIFY(!Child<QPushButton>(d, "ButtonLoadFile")->isVisibleTo(d));
      QVERIFY(!Child<QPushButton>(d, "ButtonSave")->isVisibleTo(d));
      QVERIFY(Child<QWidget>(d, "grp1")->isVisibleTo(d));
    });
    QCOMPARE(g_ResDataDir, std::string("Resources/Data/"));
  }

  void fileRulesEditsAreNotStoredAndEveryOpenChecksAgain() {
    const TClientInstall c = bed_->WriteClient(FreePort());
    LoadLists();
    const std::string listFile = bed_->Dir.ReadFile("JpkList.txt");
    WithFileRules(c.Root, "Res2", [&](TFrmFileRulesDlg* d) {
      auto* grid = Child<QTableWidget>(d, "StringGridPak");
      grid->setCurrentCell(0, 2);
      grid->editItem(grid->item(0, 2));
      auto* editor = grid->findChild<QLineEdit*>();
      QVERIFY(editor);
      editor->selectAll();
      QTest::keyClicks(editor, "edited");
      QTest::keyClick(editor, Qt::Key_Return);
      QTRY_COMPARE(grid->item(0, 2)->text(), QString("edited"));  // committed by a queued call
    });
    QCOMPARE(g_JpkList[0].Value, std::string("pw-ok"));
    QCOMPARE(bed_->Dir.ReadFile("JpkList.txt"), listFile);
    QCOMPARE(g_ResMapDir, std::string("Res2/Map/"));

    TConsoleTestBed::WriteJpk(c.Ok, "another");  // the library changes between two openings
    WithFileRules(c.Root, "", [&](TFrmFileRulesDlg* d) {
      QCOMPARE(Child<QTableWidget>(d, "StringGridPak")->item(0, 3)->text(), QString("密码错误"));
    });
  }

  void fileRulesEmptyListAndDefaultDirectories() {
    g_MyDir = "/opt/nuvo";
    WithFileRules("", "", [&](TFrmFileRulesDlg* d) {
      auto* grid = Child<QTableWidget>(d, "StringGridPak");
      QCOMPARE(grid->rowCount(), 0);
      QCOMPARE(HeaderTexts(grid), (QStringList{"序号", "文件", "密码", "状态"}));
      QCOMPARE(d->SearchDir, std::string("/opt/nuvo"));
      QCOMPARE(d->ResourcesDir, std::string("Resources"));
    });
  }

  void fileRulesShowAFailedLibraryCheckInTheErrorBox() {
    g_JpkList.SetValue("/srv/client/Data/damaged.jpk", "pw");
    const TAllocationFails files;
    TFrmFileRulesDlg dialog(nullptr, files);
    bool shown = false;
    QTimer::singleShot(0, &dialog, [&] {
      shown = true;
      dialog.close();
    });
    dialog.Open();  // the error must not leave it: from a menu command, it would end the program
    QVERIFY(!shown);
    QCOMPARE(bed_->Boxes.size(), size_t{1});
    QCOMPARE(bed_->Boxes[0].Text, QString("std::bad_alloc."));
    QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Critical);
  }

  void fileRulesScanRebuildsTheListsAndSaveWritesThem() {
    const TClientInstall c = bed_->WriteClient(FreePort());
    LoadLists();
    std::filesystem::create_directories(c.Root + "/Resources/Map");
    bed_->Dir.WriteFile("client/Resources/Map/r.MAP", "m");
    bed_->Dir.WriteFile("client/Data/x.wzl", "w");
    bed_->Dir.WriteFile("client/Data/readme.txt", "t");
    bed_->Picked = QString::fromStdString(c.Root + "/");
    WithFileRules("/elsewhere", "", [&](TFrmFileRulesDlg* d) {
      Child<QPushButton>(d, "ButtonLoadFile")->click();
      QCOMPARE(d->SearchDir, c.Root);
      QCOMPARE(Child<QTableWidget>(d, "StringGridPak")->rowCount(), 2);
      Child<QPushButton>(d, "ButtonSave")->click();
      QVERIFY(!d->isVisible());
    });
    const std::string data = c.Root + "/Data/";
    QCOMPARE(g_JpkList.Count(), size_t{2});
    QCOMPARE(g_JpkList[0].Name, data + "bad.jpk");
    QCOMPARE(g_JpkList[1].Name, data + "ok.jpk");
    QCOMPARE(g_JpkList[1].Value, g_sDefaultPassWord);  // had its own password before the scan
    QCOMPARE(g_WzlList, (std::vector<std::string>{data + "hum.wzl", data + "x.wzl"}));
    QCOMPARE(g_MapList, (std::vector<std::string>{c.Map, c.Root + "/Resources/Map/r.MAP"}));
    QCOMPARE(g_WavList, std::vector<std::string>{c.Wav});
    QCOMPARE(g_sSearchDir, c.Root);
    QCOMPARE(IniValue("SearchDir"), c.Root);
    QCOMPARE(bed_->Dir.ReadFile("WzlList.txt"), data + "hum.wzl\r\n" + data + "x.wzl\r\n");
    QCOMPARE(bed_->Dir.ReadFile("JpkList.txt"),
             data + "bad.jpk|" + g_sDefaultPassWord + "\r\n" + data + "ok.jpk|" + g_sDefaultPassWord + "\r\n");
  }

 private:
  std::unique_ptr<TConsoleTestBed> bed_;
};

QTEST_MAIN(SettingsDialogTest)
#include "uConfig_test.moc"
