#include "console/MainUnit.h"

#include <QAction>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>
#include <boost/asio/ip/tcp.hpp>

#include "ConsoleTestBed.h"
#include "catalogue/uGameLib.h"
#include "formats/MD5.h"
#include "platform/CodePage.h"
#include "support/HttpClient.h"
#include "service/ServiceState.h"
#include "service/RequestToken.h"

namespace {

constexpr int kWait = 30000;  // loading and starting under a sanitizer on a busy machine

const QString kRunning = "运行中";
const QString kStopped = "已停止";

QPlainTextEdit* MemoLog(TMainForm& form) { return form.findChild<QPlainTextEdit*>("MemoLog"); }

// The log lines without their "[date time] " prefix; a line without one is kept whole.
QStringList LogTexts(TMainForm& form) {
  static const QRegularExpression stamp(R"(^\[\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2}\] )");
  QStringList lines = MemoLog(form)->toPlainText().split('\n', Qt::SkipEmptyParts);
  for (QString& line : lines) line.remove(stamp);
  return lines;
}

void Trigger(TMainForm& form, const char* item) { form.findChild<QAction*>(item)->trigger(); }

std::string Token(const std::string& plain) {
  return SimpleEnStringMsg(AnsiFromUtf8(plain), MD5String(g_sWClientPass));
}

// The body the running service gives for image 0 of Data/hum.wzl, or nothing when nothing answers.
std::optional<std::string> FetchImage(uint16_t port) {
  try {
    const THttpReply reply = HttpGet(port, "/wclientdat/" + Token("data|hum.wzl|0") + "/1.html");
    if (reply.Status != 200) return std::nullopt;
    return reply.Body;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string ImageInCatalogue(const TMainForm& form) {
  const auto lib = form.Control().GameLib();
  return lib ? lib->GetImageBuff("\\data\\hum.wzl", 0) : "";
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QLocale::setDefault(QLocale::c());
    bed_ = std::make_unique<TConsoleTestBed>();
    port_ = FreePort();
  }
  void cleanup() {
    bed_.reset();
    QLocale::setDefault(QLocale::c());
  }

  void startShowsStartingThenRunningAndServes() {
    bed_->WriteClient(port_);
    TMainForm form;
    // Before the first pass has ended, whatever the loader does meanwhile.
    QCOMPARE(form.PanelText(0), QString("[-]"));
    QCOMPARE(form.PanelText(1), QString("启动中"));
    QCOMPARE(form.PanelText(2), QString("[-]"));
    QCOMPARE(form.windowTitle(), QString("Ostrel引擎微端服务器【Varrow微端】"));

    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), kRunning, kWait);
    QCOMPARE(form.PanelText(0), QString::number(port_));
    QCOMPARE(form.PanelText(2), QString::fromStdString(MegabytesText()));
    const QString address = QString("微端部署地址: http://127.0.0.1:%1/wclientdat/").arg(port_);
    QTRY_VERIFY_WITH_TIMEOUT(LogTexts(form).contains(address), kWait);

    const QStringList log = LogTexts(form);
    QCOMPARE(log.mid(0, 3), (QStringList{"程序更新:v2.1 2024/7/2", "程序开发:WWW.NUVOCLIENT.EXAMPLE",
                                         "程序名称:微端服务器(IIS+HTTP)"}));
    QVERIFY(MemoLog(form)->toPlainText().startsWith("["));
    const qsizetype started = log.indexOf(QString("微端服务器启动完毕！[%1]").arg(port_));
    QVERIFY(started > 2);
    QCOMPARE(log.indexOf(address), started + 1);
    QCOMPARE(log.filter("Jpk密码错误！").size(), 1);

    // The window's service answers clients.
    const std::optional<std::string> body = FetchImage(port_);
    QVERIFY(body.has_value());
    QVERIFY(!body->empty());
    QCOMPARE(*body, ImageInCatalogue(form));
    QCOMPARE(g_nDataRead.load(), uint64_t{1});
  }

  void stopStartUnloadLoad() {
    bed_->WriteClient(port_);
    TMainForm form;
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), kRunning, kWait);

    Trigger(form, "N6");
    QCOMPARE(form.PanelText(0), QString("----"));
    QCOMPARE(form.PanelText(1), kStopped);
    QVERIFY(!g_boStart);
    QVERIFY(!form.Control().NuvoClientServer());
    QVERIFY(!FetchImage(port_).has_value());
    QTRY_VERIFY(LogTexts(form).contains("微端服务器已停止.."));
    Trigger(form, "N6");  // nothing to stop: nothing happens
    QTest::qWait(250);
    QCOMPARE(LogTexts(form).count("微端服务器已停止.."), 1);

    Trigger(form, "N5");
    QCOMPARE(form.PanelText(0), QString::number(port_));
    QCOMPARE(form.PanelText(1), kRunning);
    QVERIFY(FetchImage(port_).has_value());

    Trigger(form, "N8");  // stop, then unload
    QCOMPARE(form.PanelText(1), kStopped);
    QCOMPARE(form.PanelText(3), QString("微端服务器停止，卸载资源完毕...."));
    QVERIFY(ImageInCatalogue(form).empty());
    QTRY_VERIFY(LogTexts(form).contains("卸载资源完毕.."));

    Trigger(form, "N9");  // a load pass ends by starting the service again
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), kRunning, kWait);
    QVERIFY(!ImageInCatalogue(form).empty());
    QCOMPARE(FetchImage(port_).value_or(""), ImageInCatalogue(form));

    // Unloading with no service still empties the catalogue and says so.
    MemoLog(form)->clear();
    Trigger(form, "N6");
    QTRY_VERIFY(LogTexts(form).contains("微端服务器已停止.."));
    MemoLog(form)->clear();
    form.ShowLoadLabel("");
    Trigger(form, "N8");
    QCOMPARE(form.PanelText(3), QString("微端服务器停止，卸载资源完毕...."));
    QVERIFY(ImageInCatalogue(form).empty());
    QTRY_VERIFY(LogTexts(form).contains("卸载资源完毕.."));
    QCOMPARE(LogTexts(form).count("微端服务器已停止.."), 0);
  }

  void failedStartIsShownStopped() {
    bed_->WriteClient(port_);
    boost::asio::io_context io;
    auto holder = std::make_unique<boost::asio::ip::tcp::acceptor>(
        io, boost::asio::ip::tcp::endpoint(boost::asio::ip::tcp::v4(), port_));
    TMainForm form;
    QTRY_VERIFY_WITH_TIMEOUT(!LogTexts(form).filter("微端部署地址: ").isEmpty(), kWait);
    QCOMPARE(form.PanelText(0), QString("----"));
    QCOMPARE(form.PanelText(1), kStopped);
    QVERIFY(!g_boStart);
    const QStringList log = LogTexts(form);
    const qsizetype failed = log.indexOf(QRegularExpression("^微端服务器启动异常！\\[.+\\]$"));
    QVERIFY2(failed >= 0, qPrintable(log.join('\n')));
    QCOMPARE(log.value(failed + 1), QString("微端部署地址: "));

    // Once the port is free, the start command retries on the same object.
    holder.reset();
    Trigger(form, "N5");
    QCOMPARE(form.PanelText(1), kRunning);
    QVERIFY(FetchImage(port_).has_value());
  }

  void megabytesRoundHalfToEven() {
    bed_->WriteConfig(port_, "");
    TMainForm form;
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), kRunning, kWait);
    const std::pair<uint64_t, QString> cases[] = {
        {1572864, "2 M"}, {2621440, "2 M"}, {3670016, "4 M"}, {1048575, "1 M"}, {0, "0 M"}};
    for (const auto& [bytes, text] : cases) {
      g_nDataMemory = bytes;
      Trigger(form, "N5");
      QCOMPARE(form.PanelText(2), text);
    }
  }

  void trafficLineOncePerSecondAndReset() {
    bed_->WriteConfig(port_, "");
    TMainForm form;
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), kRunning, kWait);
    form.findChild<QTimer*>("Timer1")->stop();
    uint64_t now = 50000;
    form.TickCount = [&now] { return now; };

    g_nDataRead = 10;
    g_nDataRead404 = 2;
    g_nDataSec = 2048;
    g_nDataSend = 1048576;
    form.Timer1Timer();  // the first tick after the start refreshes at once
    QCOMPARE(form.PanelText(3), QString("请求: 10/错误：2/每秒发出: 2.00 KB/总发出: 1.00 MB"));
    QCOMPARE(g_nDataSec.load(), uint64_t{0});

    g_nDataSec = 3584;
    g_nDataSend = 3 * 1048576 + 524288;
    now += 999;
    form.Timer1Timer();
    QCOMPARE(form.PanelText(3), QString("请求: 10/错误：2/每秒发出: 2.00 KB/总发出: 1.00 MB"));
    QCOMPARE(g_nDataSec.load(), uint64_t{3584});
    now += 1;
    form.Timer1Timer();
    QCOMPARE(form.PanelText(3), QString("请求: 10/错误：2/每秒发出: 3.50 KB/总发出: 3.50 MB"));
    QCOMPARE(g_nDataSec.load(), uint64_t{0});

    // Stopped: the line stays as it was, though the counters move on.
    Trigger(form, "N6");
    g_nDataRead = 11;
    now += 5000;
    form.Timer1Timer();
    QCOMPARE(form.PanelText(3), QString("请求: 10/错误：2/每秒发出: 3.50 KB/总发出: 3.50 MB"));

    // The decimals follow the locale's separator.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Trigger(form, "N5");
    g_nDataSec = 1536;
    now += 1000;
    form.Timer1Timer();
    QCOMPARE(form.PanelText(3), QString("请求: 11/错误：2/每秒发出: 1,50 KB/总发出: 3,50 MB"));
  }

  void logViewClearsAbove2000Lines() {
    bed_->WriteConfig(port_, "");
    TMainForm form;
    QTRY_VERIFY_WITH_TIMEOUT(!LogTexts(form).filter("微端部署地址: ").isEmpty(), kWait);
    form.findChild<QTimer*>("Timer1")->stop();
    QTest::mouseDClick(MemoLog(form)->viewport(), Qt::LeftButton);
    QCOMPARE(form.LogLineCount(), 0);

    for (int i = 0; i < 2000; ++i) MainOutMessage("line " + std::to_string(i));
    form.Timer1Timer();
    QCOMPARE(form.LogLineCount(), 2000);
    QCOMPARE(LogTexts(form).first(), QString("line 0"));
    QCOMPARE(LogTexts(form).last(), QString("line 1999"));

    MainOutMessage("one too many");
    form.Timer1Timer();
    QCOMPARE(form.LogLineCount(), 0);  // emptied, the new line included
    MainOutMessage("fresh");
    form.Timer1Timer();
    QCOMPARE(LogTexts(form), QStringList{"fresh"});
  }

  void menusWindowAndItems() {
    bed_->WriteConfig(port_, "");
    TMainForm form;
    QTRY_COMPARE_WITH_TIMEOUT(form.PanelText(1), kRunning, kWait);
    QStringList titles;
    QList<QStringList> items;
    for (QAction* top : form.findChild<QMenuBar*>("MainMenu1")->actions()) {
      titles << top->text();
      QStringList texts;
      for (QAction* item : top->menu()->actions()) texts << (item->isSeparator() ? "-" : item->text());
      items << texts;
    }
    QCOMPARE(titles, (QStringList{"控制", "选项", "帮助"}));
    QCOMPARE(items.value(0),
             (QStringList{"启动服务", "停止服务", "-", "卸载微端资源", "加载微端资源", "-", "退出"}));
    QCOMPARE(items.value(1), (QStringList{"基本设置(&B)", "安全过滤(&S)", "查看资源(&V)"}));
    QCOMPARE(items.value(2), QStringList{"关于"});
    QVERIFY(!form.findChild<QAction*>("S1")->isVisible());
    QVERIFY(form.findChild<QAction*>("N13")->isVisible());

    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.width(), 550);
    QCOMPARE(form.findChild<QStatusBar*>("StatusBar1")->height(), 19);
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

    Trigger(form, "N2");  // "关于" does nothing
    QTest::qWait(150);
    QVERIFY(g_boStart);
    QCOMPARE(form.PanelText(1), kRunning);

    // "退出" closes the window the way its close button does.
    form.show();
    Trigger(form, "N10");
    QVERIFY(!form.isVisible());
    QVERIFY(!g_boStart);
    QVERIFY(!form.Control().NuvoClientServer());
    QVERIFY(!form.Control().GameLib());
  }

  void closingWhileAPassEndsReleasesEverything() {
    bed_->WriteClient(port_);
    for (int round = 0; round < 4; ++round) {
      auto form = std::make_unique<TMainForm>();
      if (round > 0) {
        QTRY_COMPARE_WITH_TIMEOUT(form->PanelText(1), kRunning, kWait);
        Trigger(*form, "N9");
        QTest::qWait(round * 2);
      }
      form->close();  // may meet the pass at any point
      QVERIFY(!form->Control().GameLib());
      QVERIFY(!form->Control().NuvoClientServer());
      QVERIFY(!g_boStart);
      Trigger(*form, "N5");  // the commands do nothing once the window has closed
      QVERIFY(!form->Control().NuvoClientServer());
      form.reset();
      QCoreApplication::processEvents();
      g_ErrorList.Drain();
    }
  }

 private:
  std::unique_ptr<TConsoleTestBed> bed_;
  uint16_t port_ = 0;
};

QTEST_MAIN(MainFormTest)
#include "MainUnit_test.moc"
