#include "console/uFileRulesDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "console/uConsoleDialogs.h"
#include "formats/Jpk.h"
#include "formats/WIL.h"
#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"
#include "settings/ResourceList.h"

namespace {

const QString kStatusOk = "正常";
constexpr int kColumnWidths[4] = {100, 500, 150, 150};

QPlainTextEdit* Memo(QTabWidget* pages, const char* name, const QString& caption) {
  auto* memo = new QPlainTextEdit;
  memo->setObjectName(name);
  pages->addTab(memo, caption);
  return memo;
}

void SetLines(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
  QStringList texts;
  for (const std::string& line : lines) texts << QString::fromStdString(line);
  memo->setPlainText(texts.join(QLatin1Char('\n')));
}

// The check the loader makes: no object, a JPK library whose password fails, or a usable library.
// A file that is there but fails to open shows its error: it is not missing.
QString LibraryStatus(const std::string& name, const std::string& password, const TFileSource& files) {
  const TLibraryCheckResult check = CheckLibraryFile(name, password, files);
  switch (check.Kind) {
    case TLibraryCheck::Unreadable: return QString::fromUtf8(check.Error);
    case TLibraryCheck::NoLibrary: return "文件不存在";
    case TLibraryCheck::WrongPassword: return "密码错误";
    case TLibraryCheck::Usable: break;
  }
  return kStatusOk;
}

}  // namespace

void TStatusCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  const QString text = index.data().toString();
  if (index.column() != TFrmFileRulesDlg::kStatusColumn || text.compare(kStatusOk, Qt::CaseInsensitive) == 0) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  painter->fillRect(option.rect, Qt::yellow);
  painter->setPen(Qt::red);
  painter->setFont(option.font);
  painter->drawText(option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
  painter->restore();
}

TFrmFileRulesDlg::TFrmFileRulesDlg(QWidget* parent, const TFileSource& files) : QDialog(parent), FFiles(files) {
  setObjectName("FrmFileRulesDlg");
  setWindowTitle("客户端按照以下文件读取");
  setFont(ConsoleFont());
  setSizeGripEnabled(true);

  PageControl1 = new QTabWidget;
  PageControl1->setObjectName("PageControl1");
  MemoWzl = Memo(PageControl1, "MemoWzl", "Wzl");
  StringGridPak = new QTableWidget(0, 4);
  StringGridPak->setObjectName("StringGridPak");
  StringGridPak->setToolTip("每一个Jpk文件需要设置正确的读取密码，否则登录器无法正常读取该Jpk文件");
  StringGridPak->verticalHeader()->setVisible(false);
  StringGridPak->setItemDelegateForColumn(kStatusColumn, new TStatusCellDelegate(StringGridPak));
  PageControl1->addTab(StringGridPak, "Jpk");
  MemoResources_Data = Memo(PageControl1, "MemoResources_Data", "Resources\\Data");
  MemoResources_Map = Memo(PageControl1, "MemoResources_Map", "Resources\\Map");
  MemoResources_Wav = Memo(PageControl1, "MemoResources_Wav", "Resources\\Wav");

  auto* panel = new QWidget;
  panel->setObjectName("Panel1");
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  ButtonLoadFile = new QPushButton("选择Varrow客户端自动读取");
  ButtonLoadFile->setObjectName("ButtonLoadFile");
  ButtonSave = new QPushButton("保存");
  ButtonSave->setObjectName("ButtonSave");
  auto* order = new QGroupBox("资源读取顺序");
  order->setObjectName("rgLoadResources");
  auto* orderLayout = new QVBoxLayout(order);
  auto* first = new QRadioButton("Jpk→Wzl");
  first->setChecked(true);
  orderLayout->addWidget(first);
  orderLayout->addWidget(new QRadioButton("Jpk"));
  auto* rules = new QGroupBox("读取规则说明：");
  rules->setObjectName("grp1");
  QPalette red = rules->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  rules->setPalette(red);
  auto* rulesLayout = new QVBoxLayout(rules);
  auto* text = new QLabel(
      "1、当使用微端时，且读取规则列表中有Jpk，微端直接请求更新Jpk，而不再读 Wzl\n"
      "2、不使用微端时，读取按配置的规则进行");
  text->setObjectName("lbl1");
  rulesLayout->addWidget(text);
  for (QWidget* hidden :
       {static_cast<QWidget*>(ButtonLoadFile), static_cast<QWidget*>(ButtonSave), static_cast<QWidget*>(order)}) {
    panelLayout->addWidget(hidden);
    hidden->setVisible(false);
  }
  panelLayout->addWidget(rules, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1, 1);
  layout->addWidget(panel);
  resize(940, 480);

  connect(ButtonLoadFile, &QPushButton::clicked, this, &TFrmFileRulesDlg::ButtonLoadFileClick);
  connect(ButtonSave, &QPushButton::clicked, this, &TFrmFileRulesDlg::ButtonSaveClick);
}

void TFrmFileRulesDlg::Prepare() {
  if (SearchDir.empty()) SearchDir = g_MyDir;
  if (ResourcesDir.empty()) ResourcesDir = "Resources";
  SetResDirs(ResourcesDir);
  StringGridPak->setRowCount(0);
  StringGridPak->setHorizontalHeaderLabels({"序号", "文件", "密码", "状态"});
  for (int c = 0; c < 4; ++c) StringGridPak->setColumnWidth(c, kColumnWidths[c]);
  RefViewList();
  PageControl1->setCurrentWidget(StringGridPak);
}

void TFrmFileRulesDlg::Open() {
  bool prepared = false;
  WithErrorBox(this, [this, &prepared] {
    Prepare();
    prepared = true;
  });
  if (prepared) exec();
}

void TFrmFileRulesDlg::RefViewList() {
  StringGridPak->setRowCount(static_cast<int>(g_JpkList.Count()));
  for (size_t i = 0; i < g_JpkList.Count(); ++i) {
    const TNameValue& pair = g_JpkList[i];
    const QString cells[4] = {QString::number(i), QString::fromStdString(pair.Name),
                              QString::fromStdString(pair.Value), LibraryStatus(pair.Name, pair.Value, FFiles)};
    for (int c = 0; c < 4; ++c) StringGridPak->setItem(static_cast<int>(i), c, new QTableWidgetItem(cells[c]));
  }
  SetLines(MemoWzl, g_WzlList);
  SetLines(MemoResources_Map, g_MapList);
  SetLines(MemoResources_Wav, g_WavList);
}

void TFrmFileRulesDlg::ButtonLoadFileClick() {
  QString chosen = QString::fromStdString(SearchDir);
  if (!SelectDirectory(this, "请选择Varrow根目录", chosen)) return;
  SearchDir = WithoutTrailingSeparators(chosen).toStdString();
  {
    std::lock_guard hold(g_ConfigLock);
    g_JpkList.Clear();
    g_WzlList.clear();
    g_MapList.clear();
    g_WavList.clear();
  }
  for (const char* sub : {"/Data/", "/Map/", "/Wav/"}) SearchLib(SearchDir + sub);
  for (const std::string* dir : {&g_ResHumanDir, &g_ResWeaponDIr, &g_ResDataDir, &g_ResMapDir, &g_ResWavDir}) {
    SearchLib(SearchDir + "/" + *dir);
  }
  WithErrorBox(this, [this] { RefViewList(); });
}

void TFrmFileRulesDlg::SearchLib(const std::string& sLibsPath) {
  if (sLibsPath.empty()) return;
  std::vector<std::string> names = ListFiles(sLibsPath);
  std::sort(names.begin(), names.end());  // in name order, whatever order the directory keeps
  std::lock_guard hold(g_ConfigLock);
  for (const std::string& name : names) {
    const std::string ext = UpperCaseAscii(ExtractFileExt(name));
    const std::string path = sLibsPath + name;
    if (ext == ".JPK") {
      g_JpkList.SetValue(path, g_sDefaultPassWord);
    } else if (ext == ".WZL") {
      g_WzlList.push_back(path);
    } else if (ext == ".MAP") {
      g_MapList.push_back(path);
    } else if (ext == ".WAV") {
      g_WavList.push_back(path);
    }
  }
}

void TFrmFileRulesDlg::ButtonSaveClick() {
  {
    std::lock_guard hold(g_ConfigLock);
    g_sSearchDir = SearchDir;
  }
  try {
    SaveJpkList();
    for (TResourceList list : {TResourceList::Wzl, TResourceList::Map, TResourceList::Wav}) SaveLibList(LibListType(list));
    SaveConfig();
  } catch (const std::exception& e) {
    ShowErrorBox(this, QString::fromUtf8(e.what()));
    return;
  }
  accept();
}
