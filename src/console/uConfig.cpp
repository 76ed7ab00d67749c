#include "console/uConfig.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <climits>
#include <mutex>

#include "console/uConsoleDialogs.h"
#include "console/uFileRulesDlg.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"

namespace {

constexpr int kFieldLeft = 90;
constexpr int kFieldWidth = 200;
constexpr int kRowHeight = 22;
constexpr int kRowStep = 28;
const QString kBandwidthCaption = "最大带宽：";
const QString kBandwidthUnit = "MB";

int RowTop(int row) { return 24 + row * kRowStep; }

QLabel* RowLabel(QWidget* parent, int row, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->move(12, RowTop(row) + 3);
  label->adjustSize();
  return label;
}

template <typename W>
W* Field(QWidget* parent, const char* name, int row, int left = kFieldLeft, int width = kFieldWidth) {
  auto* w = new W(parent);
  w->setObjectName(name);
  w->setGeometry(left, RowTop(row), width, kRowHeight);
  return w;
}

// A number field: every change of its text is an edit, and a text that is no integer (an
// emptied field) reads as 0 and shows as 0 once the operator leaves the field, instead of
// bringing back the number it held.
class TNumberEdit : public QSpinBox {
 public:
  TNumberEdit(QWidget* parent, int minimum, int maximum) : QSpinBox(parent) {
    setRange(minimum, maximum);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  }
  using QSpinBox::lineEdit;
};

// A number field reads its text as a decimal integer; any other text reads as its lower bound, 0.
int SpinValue(const QSpinBox* box) {
  bool ok = false;
  const int value = box->cleanText().toInt(&ok, 10);
  return ok ? value : 0;
}

void SetTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

}  // namespace

TFormConfig::TFormConfig(QWidget* parent) : QDialog(parent) {
  setObjectName("FormConfig");
  setWindowTitle("基本设置");
  setFont(ConsoleFont());

  auto* group = new QGroupBox("基本设置", this);
  group->setObjectName("GroupBox1");
  group->setGeometry(8, 8, 314, 204);

  RowLabel(group, 0, "微端标题：");
  EditTitle = Field<QLineEdit>(group, "EditTitle", 0);

  RowLabel(group, 1, "服务端口：");
  auto* port = new TNumberEdit(group, INT_MIN, INT_MAX);
  port->setObjectName("EditServerPort");
  port->setGeometry(kFieldLeft, RowTop(1), 90, kRowHeight);
  EditServerPort = port;

  // The label's blanks held the field in the original layout; here the unit gets a label of its
  // own after the field, which is as wide as its numbers need whatever the font.
  RowLabel(group, 2, kBandwidthCaption);
  auto* bandwidth = new TNumberEdit(group, 0, 1000);
  bandwidth->setObjectName("EditMaxBandwidth");
  bandwidth->setGeometry(kFieldLeft, RowTop(2), qMax(bandwidth->minimumSizeHint().width(), 60), kRowHeight);
  RowLabel(group, 2, kBandwidthUnit)->move(bandwidth->geometry().right() + 5, RowTop(2) + 3);
  EditMaxBandwidth = bandwidth;

  RowLabel(group, 3, "Varrow目录：");
  EditSearchDir = Field<QLineEdit>(group, "EditSearchDir", 3, kFieldLeft, kFieldWidth - 36);
  EditSearchDir->setReadOnly(true);
  ButtonSelectDir = Field<QPushButton>(group, "ButtonSelectDir", 3, kFieldLeft + kFieldWidth - 32, 32);
  ButtonSelectDir->setText("....");

  RowLabel(group, 4, "资源目录：");
  EditWClientDir = Field<QLineEdit>(group, "EditWClientDir", 4);

  RowLabel(group, 5, "微端密码：");
  EditWClientPass = Field<QLineEdit>(group, "EditWClientPass", 5);

  Button7 = new QPushButton("资源读取", this);
  Button7->setObjectName("Button7");
  Button7->setGeometry(8, 222, 90, 26);
  ButtonSave = new QPushButton("保存设置", this);
  ButtonSave->setObjectName("ButtonSave");
  ButtonSave->setGeometry(232, 222, 90, 26);
  ButtonSave->setAutoDefault(false);
  Button7->setAutoDefault(false);
  setFixedSize(330, 258);

  for (QLineEdit* edit : {EditTitle, EditWClientDir, EditWClientPass}) {
    connect(edit, &QLineEdit::textChanged, this, &TFormConfig::EditServerPortChange);
  }
  for (TNumberEdit* box : {port, bandwidth}) {
    connect(box->lineEdit(), &QLineEdit::textChanged, this, &TFormConfig::EditServerPortChange);
  }
  connect(EditSearchDir, &QLineEdit::textChanged, this, &TFormConfig::EditSearchDirChange);
  connect(ButtonSelectDir, &QPushButton::clicked, this, &TFormConfig::ButtonSelectDirClick);
  connect(ButtonSave, &QPushButton::clicked, this, &TFormConfig::ButtonSaveClick);
  connect(Button7, &QPushButton::clicked, this, &TFormConfig::Button7Click);
}

void TFormConfig::FillFields() {
  EditTitle->setText(QString::fromStdString(g_sTitle));
  EditServerPort->setValue(g_nServerPort.load());
  EditMaxBandwidth->setValue(g_nMaxBandwidth.load());
  EditSearchDir->setText(QString::fromStdString(g_sSearchDir));
  EditWClientDir->setText(QString::fromStdString(g_sWClientDir));
  EditWClientPass->setText(QString::fromStdString(Utf8FromAnsi(g_sWClientPass)));
}

void TFormConfig::Open() {
  FillFields();
  uModValue();
  exec();
}

void TFormConfig::ModValue() {
  boModValued = true;
  ButtonSave->setEnabled(true);
}

void TFormConfig::uModValue() {
  boModValued = false;
  ButtonSave->setEnabled(false);
}

void TFormConfig::EditServerPortChange() { ModValue(); }

void TFormConfig::EditSearchDirChange() { ModValue(); }

void TFormConfig::ButtonSelectDirClick() {
  QString dir = EditSearchDir->text();
  if (SelectDirectory(this, "请选择Varrow根目录", dir)) EditSearchDir->setText(WithoutTrailingSeparators(dir));
}

void TFormConfig::ButtonSaveClick() {
  const std::string searchDir = EditSearchDir->text().toStdString();
  if (!DirectoryExists(searchDir)) {
    ShowMessageBox(this, "Varrow目录不存在...", "错误信息", QMessageBox::Critical);
    return;
  }
  {
    std::lock_guard hold(g_ConfigLock);
    g_sTitle = EditTitle->text().toStdString();
    g_nServerPort = static_cast<uint16_t>(SpinValue(EditServerPort));
    g_nMaxBandwidth = static_cast<uint16_t>(SpinValue(EditMaxBandwidth));
    g_sSearchDir = searchDir;
    g_sWClientDir = EditWClientDir->text().toStdString();
    g_sWClientPass = AnsiFromUtf8(EditWClientPass->text().toStdString());
  }
  try {
    SaveConfig();
  } catch (const std::exception& e) {
    ShowErrorBox(this, QString::fromUtf8(e.what()));
    return;
  }
  uModValue();
  accept();
}

void TFormConfig::Button7Click() {
  if (boModValued) {
    ShowMessageBox(this, "配置有更改请先保存！", "提示信息", QMessageBox::Information);
    return;
  }
  {
    TFrmFileRulesDlg dialog(this);
    dialog.SearchDir = EditSearchDir->text().toStdString();
    dialog.ResourcesDir = EditWClientDir->text().toStdString();
    dialog.Open();
  }
  // The file rules dialog's save may have changed the client directory.
  SetTextIfChanged(EditSearchDir, QString::fromStdString(g_sSearchDir));
}
