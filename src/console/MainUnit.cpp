#include "console/MainUnit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include "console/PacketRuleConfig.h"
#include "console/uConfig.h"
#include "console/uConsoleDialogs.h"
#include "console/uFileRulesDlg.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "settings/TarnShare.h"
#include "service/ServiceState.h"

TMainForm* MainForm = nullptr;
TfrmPacketRule* frmPacketRule = nullptr;

namespace {

constexpr int kClientWidth = 550;
constexpr int kClientHeight = 177;
constexpr int kStatusBarHeight = 19;
constexpr int kPanelWidths[4] = {60, 60, 60, 50};
constexpr int kMaxLogLines = 2000;
constexpr uint64_t kTrafficInterval = 1000;

}  // namespace

TMainForm::TMainForm(THttpServerLimits Limits, QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainForm");
  setWindowTitle("微端服务器");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(ConsoleFont());
  TickCount = GetTickCount64;

  MemoLog = new QPlainTextEdit(this);
  MemoLog->setObjectName("MemoLog");
  MemoLog->setReadOnly(true);
  MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FLogViewport = MemoLog->viewport();
  FLogViewport->installEventFilter(this);
  setCentralWidget(MemoLog);
  CreateStatusBar();
  CreateMenus();
  setFixedSize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);

  FControl = std::make_unique<TServiceControl>(MakeView(), Limits);
  WithErrorBox(this, [this] { FormCreate(); });
  Timer1->start();
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::CreateMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  auto item = [this](QMenu* menu, const char* name, const QString& caption, void (TMainForm::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    if (handler) connect(action, &QAction::triggered, this, handler);
    return action;
  };
  QMenu* control = bar->addMenu("控制");
  control->setObjectName("MenuControl");
  item(control, "N5", "启动服务", &TMainForm::N5Click);
  item(control, "N6", "停止服务", &TMainForm::N6Click);
  control->addSeparator();
  item(control, "N8", "卸载微端资源", &TMainForm::N8Click);
  item(control, "N9", "加载微端资源", &TMainForm::N9Click);
  control->addSeparator();
  item(control, "N10", "退出", &TMainForm::N10Click);

  QMenu* options = bar->addMenu("选项");
  options->setObjectName("MenuOptions");
  item(options, "N4", "基本设置(&B)", &TMainForm::N4Click);
  item(options, "S1", "安全过滤(&S)", &TMainForm::S1Click)->setVisible(false);
  item(options, "N13", "查看资源(&V)", &TMainForm::N13Click);

  QMenu* help = bar->addMenu("帮助");
  help->setObjectName("MenuHelp");
  item(help, "N2", "关于", nullptr);
}

void TMainForm::CreateStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setFixedHeight(kStatusBarHeight);
  for (int i = 0; i < 4; ++i) {
    auto* panel = new QLabel(StatusBar1);
    panel->setObjectName(QString("Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (i == 1) panel->setAlignment(Qt::AlignCenter);
    // The last panel takes what the others leave.
    if (i < 3) {
      panel->setFixedWidth(kPanelWidths[i]);
    } else {
      panel->setMinimumWidth(kPanelWidths[i]);
    }
    StatusBar1->addWidget(panel, i == 3 ? 1 : 0);
    FPanels[i] = panel;
  }
  setStatusBar(StatusBar1);
}

TServiceView TMainForm::MakeView() {
  TServiceView view;
  view.SetPanels = [this](const std::string& port, const std::string& state, const std::string& megabytes) {
    SetPanels(port, state, megabytes);
  };
  view.ShowLabel = [this](const std::string& sMsg) { ShowLoadLabel(sMsg); };
  return view;
}

void TMainForm::FormCreate() {
  FControl->FormCreate();
  setWindowTitle(QString::fromStdString(MainCaption()));
}

void TMainForm::FormDestroy() {
  if (FControl) FControl->FormDestroy();
}

void TMainForm::SetPanels(const std::string& port, const std::string& state, const std::string& megabytes) {
  const uint64_t seq = ++FViewSeq;
  const QString p = QString::fromStdString(port), s = QString::fromStdString(state),
                m = QString::fromStdString(megabytes);
  if (QThread::currentThread() == thread()) {
    ApplyPanels(seq, p, s, m);
  } else {
    QMetaObject::invokeMethod(
        this, [this, seq, p, s, m] { ApplyPanels(seq, p, s, m); }, Qt::QueuedConnection);
  }
}

void TMainForm::ShowLoadLabel(const std::string& sMsg) {
  const uint64_t seq = ++FViewSeq;
  const QString text = QString::fromStdString(Utf8FromAnsi(sMsg));
  if (QThread::currentThread() == thread()) {
    ApplyLabel(seq, text);
  } else {
    QMetaObject::invokeMethod(
        this, [this, seq, text] { ApplyLabel(seq, text); }, Qt::QueuedConnection);
  }
}

void TMainForm::ApplyPanels(uint64_t seq, const QString& port, const QString& state, const QString& megabytes) {
  if (seq < FPanelsSeq) return;
  FPanelsSeq = seq;
  FPanels[0]->setText(port);
  FPanels[1]->setText(state);
  FPanels[2]->setText(megabytes);
}

void TMainForm::ApplyLabel(uint64_t seq, const QString& text) {
  if (seq < FLabelSeq) return;
  FLabelSeq = seq;
  FPanels[3]->setText(text);
}

QString TMainForm::PanelText(int index) const { return FPanels[index]->text(); }

int TMainForm::LogLineCount() const { return MemoLog->document()->isEmpty() ? 0 : MemoLog->blockCount(); }

void TMainForm::Timer1Timer() {
  if (g_boStart) {
    const uint64_t now = TickCount();
    if (now - dwSecTime >= kTrafficInterval) {
      dwSecTime = now;
      // Taking the per-second count and zeroing it in one step loses no bytes sent in between.
      const uint64_t sec = g_nDataSec.exchange(0);
      ShowLoadLabel(AnsiFromUtf8(StatisticsText(sec, QLocale().decimalPoint().toStdString())));
    }
  }
  const std::vector<std::string> lines = g_ErrorList.Drain();
  if (!lines.empty()) {
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines) texts << QString::fromStdString(line);
    MemoLog->appendPlainText(texts.join(QLatin1Char('\n')));
  }
  if (LogLineCount() > kMaxLogLines) MemoLog->clear();
}

void TMainForm::MemoLogDblClick() { MemoLog->clear(); }

void TMainForm::N4Click() {
  TFormConfig dialog(this);
  dialog.move(pos());
  dialog.Open();
  setWindowTitle(QString::fromStdString(MainCaption()));
}

void TMainForm::N5Click() {
  WithErrorBox(this, [this] { FControl->LibLoadok(); });
}

void TMainForm::N6Click() { FControl->StopService(); }

void TMainForm::N8Click() { FControl->UnloadResources(); }

void TMainForm::N9Click() { FControl->LoadResources(); }

void TMainForm::N10Click() { close(); }

void TMainForm::N13Click() {
  TFrmFileRulesDlg dialog(this);
  dialog.move(pos());
  dialog.SearchDir = g_sSearchDir;
  dialog.ResourcesDir = g_sWClientDir;
  dialog.Open();
}

void TMainForm::S1Click() {
  if (frmPacketRule) frmPacketRule->Open(QPoint(x(), y() + 20));
}

void TMainForm::closeEvent(QCloseEvent* event) {
  FormDestroy();
  event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FLogViewport && event->type() == QEvent::MouseButtonDblClick) {
    MemoLogDblClick();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}
