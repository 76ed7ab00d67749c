#include "console/PacketRuleConfig.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

#include "console/uConsoleDialogs.h"
#include "platform/CodePage.h"
#include "platform/Inet.h"
#include "settings/IPAddrFilter.h"
#include "settings/TarnShare.h"

namespace {

using TAddressList = std::vector<TBlockIP>;

const QString kConfirmCaption = "确认信息";
const QString kAddCaption = "永久IP过滤";
const QString kAddPrompt = "请输入一个新的IP地址: ";

// ---- Single-address list boxes: each item carries the address value ----

void AddAddressItem(QListWidget* list, const QString& text, int32_t value) {
  auto* item = new QListWidgetItem(text);
  item->setData(Qt::UserRole, value);
  list->addItem(item);
}

int32_t ItemValue(const QListWidgetItem* item) { return item->data(Qt::UserRole).toInt(); }

bool CarriesValue(const QListWidget* list, int32_t value) {
  for (int i = 0; i < list->count(); ++i) {
    if (ItemValue(list->item(i)) == value) return true;
  }
  return false;
}

// The selected row, or -1.
int Selection(const QListWidget* list) {
  const int row = list->currentRow();
  return (row >= 0 && row < list->count() && list->item(row)->isSelected()) ? row : -1;
}

// The text of an active item up to its first blank.
QString ActiveAddress(const QListWidgetItem* item) { return item->text().section(QLatin1Char(' '), 0, 0); }

int32_t AddressValue(const QString& text) {
  return static_cast<int32_t>(InetAddr(AnsiFromUtf8(text.toStdString())));
}

// The global entry of a list box item: the one at the same position when its text matches, else the
// first with that text; -1 when none.
int FindAddressEntry(const TAddressList& list, int row, const std::string& text) {
  if (row >= 0 && static_cast<size_t>(row) < list.size() && list[row].sIP == text) return row;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].sIP == text) return static_cast<int>(i);
  }
  return -1;
}

void FillAddresses(QListWidget* box, const TAddressList& list) {
  box->clear();
  for (const TBlockIP& e : list) AddAddressItem(box, QString::fromStdString(e.sIP), e.nIP);
}

void AddAddress(QListWidget* box, TAddressList& list, const QString& text, int32_t value) {
  AddAddressItem(box, text, value);
  list.push_back({text.toStdString(), value});
}

// Removes the selected item and its global entry; false when nothing is selected.
bool DeleteSelected(QListWidget* box, TAddressList& list) {
  const int row = Selection(box);
  if (row < 0) return false;
  const int entry = FindAddressEntry(list, row, box->item(row)->text().toStdString());
  if (entry >= 0) list.erase(list.begin() + entry);
  delete box->takeItem(row);
  return true;
}

// Moves the selected item to the other list, without looking for duplicates there.
bool MoveSelected(QListWidget* fromBox, TAddressList& from, QListWidget* toBox, TAddressList& to) {
  const int row = Selection(fromBox);
  if (row < 0) return false;
  const QString text = fromBox->item(row)->text();
  const int32_t value = ItemValue(fromBox->item(row));
  DeleteSelected(fromBox, from);
  AddAddress(toBox, to, text, value);
  return true;
}

// Moves every item whose text the other list box lacks (without regard to case), then empties the
// source; true when the other list grew.
bool MoveAll(QListWidget* fromBox, TAddressList& from, QListWidget* toBox, TAddressList& to) {
  if (fromBox->count() == 0) return false;
  bool added = false;
  for (int i = 0; i < fromBox->count(); ++i) {
    const QListWidgetItem* item = fromBox->item(i);
    if (!toBox->findItems(item->text(), Qt::MatchFixedString).isEmpty()) continue;
    AddAddress(toBox, to, item->text(), ItemValue(item));
    added = true;
  }
  fromBox->clear();
  from.clear();
  return added;
}

// ---- Range list box: each item shares its record with the global entry ----

void AddAreaItem(QListWidget* list, const QString& text, const std::shared_ptr<TIPArea>& area) {
  auto* item = new QListWidgetItem(text);
  item->setData(Qt::UserRole, QVariant::fromValue(area));
  list->addItem(item);
}

std::shared_ptr<TIPArea> ItemArea(const QListWidgetItem* item) {
  return item->data(Qt::UserRole).value<std::shared_ptr<TIPArea>>();
}

bool SameArea(const TIPArea& a, const TIPArea& b) { return a.Low == b.Low && a.High == b.High; }

// The global entry holding the same range: the one at the same position when it matches, else the
// first match; -1 when none.
int FindAreaEntry(int row, const TIPArea& area) {
  const auto& list = g_BlockIPAreaList;
  if (row >= 0 && static_cast<size_t>(row) < list.size() && SameArea(*list[row].Area, area)) return row;
  for (size_t i = 0; i < list.size(); ++i) {
    if (SameArea(*list[i].Area, area)) return static_cast<int>(i);
  }
  return -1;
}

// Checks a typed range and says what is wrong with it; false then.
bool ReadTypedArea(QWidget* owner, const QString& text, TIPArea& area) {
  if (!text.contains(QLatin1Char('-'))) {
    ShowMessageBox(owner, "输入格式错误，正确格式如下：192.168.1.1-192.168.1.255", "错误", QMessageBox::Critical);
    return false;
  }
  switch (CheckIPArea(text.toStdString(), area)) {
    case TIPAreaError::Low:
      ShowMessageBox(owner, "输入的低位IP格式错误", "错误", QMessageBox::Critical);
      return false;
    case TIPAreaError::High:
      ShowMessageBox(owner, "输入的高位IP格式错误", "错误", QMessageBox::Critical);
      return false;
    case TIPAreaError::None:
      break;
  }
  return true;
}

QListWidget* ListBox(const char* name, const QString& hint, bool sorted) {
  auto* list = new QListWidget;
  list->setObjectName(name);
  list->setToolTip(hint);
  list->setSortingEnabled(sorted);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  return list;
}

}  // namespace

TfrmPacketRule::TfrmPacketRule(QWidget* parent) : QDialog(parent) {
  setObjectName("frmPacketRule");
  setWindowTitle("安全过滤设置");
  setFont(ConsoleFont());

  ListBoxActiveList = ListBox("ListBoxActiveList", "当前连接的IP地址列表", true);
  ListBoxTempList =
      ListBox("ListBoxTempList",
              "动态过滤列表，在此列表中的IP将无法建立连接，但在程序重新启动时此列表的信息将被清空", true);
  ListBoxBlockList = ListBox(
      "ListBoxBlockList",
      "永久过滤列表，在此列表中的IP将无法建立连接，此列表将保存于配置文件中，在程序重新启动时会重新加载此列表",
      true);
  ListBoxIPAreaFilter =
      ListBox("ListBoxIPAreaFilter", "IP段过滤列表，地址由小到大，格式如：127.0.0.1-128.0.0.1", false);

  auto* page = new QWidget;
  page->setObjectName("TabSheet1");
  auto* grid = new QGridLayout(page);
  const std::pair<QString, QListWidget*> columns[] = {{"当前在线:", ListBoxActiveList},
                                                      {"动态过滤IP:", ListBoxTempList},
                                                      {"永久过滤IP:", ListBoxBlockList},
                                                      {"IP段过滤 (右键编辑)", ListBoxIPAreaFilter}};
  for (int c = 0; c < 4; ++c) {
    grid->addWidget(new QLabel(columns[c].first), 0, c);
    grid->addWidget(columns[c].second, 1, c);
  }
  PageControl = new QTabWidget;
  PageControl->setObjectName("PageControl");
  PageControl->addTab(page, " 连接列表");

  btnSave = new QPushButton("保存(&S)");
  btnSave->setObjectName("btnSave");
  btnSave->setAutoDefault(false);
  btnClose = new QPushButton("关闭(&O)");
  btnClose->setObjectName("btnClose");
  btnClose->setDefault(true);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnSave);
  buttons->addWidget(btnClose);
  buttons->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(PageControl, 1);
  layout->addLayout(buttons);
  setFixedSize(720, 360);

  QMenu* active = PopupMenu(ListBoxActiveList, "ActiveListPopupMenu");
  connect(active, &QMenu::aboutToShow, this, &TfrmPacketRule::ActiveListPopupMenuPopup);
  MenuAction(active, "APOPMENU_REFLIST", "刷新(&R)", &TfrmPacketRule::APOPMENU_REFLISTClick);
  MenuAction(active, "APOPMENU_SORT", "排序(&S)", &TfrmPacketRule::APOPMENU_SORTClick);
  active->addSeparator();
  MenuAction(active, "APOPMENU_ADDTEMPLIST", "加入动态过滤列表(&A)", &TfrmPacketRule::APOPMENU_ADDTEMPLISTClick);
  MenuAction(active, "APOPMENU_BLOCKLIST", "加入永久过滤列表(&D)", &TfrmPacketRule::APOPMENU_BLOCKLISTClick);
  active->addSeparator();
  MenuAction(active, "APOPMENU_AllToTempBLOCKLIST", "全部加入动态过滤列表(&T)",
             &TfrmPacketRule::APOPMENU_AllToTempBLOCKLISTClick);
  MenuAction(active, "APOPMENU_AllToBLOCKLIST", "全部加入永久过滤列表(&B)",
             &TfrmPacketRule::APOPMENU_AllToBLOCKLISTClick);

  QMenu* temp = PopupMenu(ListBoxTempList, "TempBlockListPopupMenu");
  connect(temp, &QMenu::aboutToShow, this, &TfrmPacketRule::TempBlockListPopupMenuPopup);
  MenuAction(temp, "TPOPMENU_REFLIST", "刷新(&R)", &TfrmPacketRule::TPOPMENU_REFLISTClick);
  MenuAction(temp, "TPOPMENU_SORT", "排序(&S)", &TfrmPacketRule::TPOPMENU_SORTClick);
  temp->addSeparator();
  MenuAction(temp, "TPOPMENU_ADD", "增加(&A)", &TfrmPacketRule::TPOPMENU_ADDClick);
  MenuAction(temp, "TPOPMENU_DELETE", "删除(&D)", &TfrmPacketRule::TPOPMENU_DELETEClick);
  MenuAction(temp, "TPOPMENU_DELETE_ALL", "全部删除(&C)", &TfrmPacketRule::TPOPMENU_DELETE_ALLClick);
  temp->addSeparator();
  MenuAction(temp, "TPOPMENU_ADDTOBLOCKLIST", "加入永久过滤列表(&A)",
             &TfrmPacketRule::TPOPMENU_ADDTOBLOCKLISTClick);
  MenuAction(temp, "TPOPMENU_ALLTOBLOCKLIST", "全部加入永久过滤列表(&B)",
             &TfrmPacketRule::TPOPMENU_ALLTOBLOCKLISTClick);

  QMenu* block = PopupMenu(ListBoxBlockList, "BlockListPopupMenu");
  connect(block, &QMenu::aboutToShow, this, &TfrmPacketRule::BlockListPopupMenuPopup);
  MenuAction(block, "BPOPMENU_REFLIST", "刷新(&R)", &TfrmPacketRule::BPOPMENU_REFLISTClick);
  MenuAction(block, "BPOPMENU_SORT", "排序(&S)", &TfrmPacketRule::BPOPMENU_SORTClick);
  block->addSeparator();
  MenuAction(block, "BPOPMENU_ADD", "增加(&A)", &TfrmPacketRule::BPOPMENU_ADDClick);
  MenuAction(block, "BPOPMENU_DELETE", "删除(&D)", &TfrmPacketRule::BPOPMENU_DELETEClick);
  MenuAction(block, "BPOPMENU_DELETE_ALL", "全部删除(&C)", &TfrmPacketRule::BPOPMENU_DELETE_ALLClick);
  block->addSeparator();
  MenuAction(block, "BPOPMENU_ADDTEMPLIST", "加入动态过滤列表(&A)", &TfrmPacketRule::BPOPMENU_ADDTEMPLISTClick);
  MenuAction(block, "BPOPMENU_ALLTOTEMPLIST", "全部加入动态过滤列表(&T)",
             &TfrmPacketRule::BPOPMENU_ALLTOTEMPLISTClick);

  QMenu* area = PopupMenu(ListBoxIPAreaFilter, "PopupMenu_IPAreaFilter");
  connect(area, &QMenu::aboutToShow, this, &TfrmPacketRule::PopupMenu_IPAreaFilterPopup);
  MenuAction(area, "MenuItem_IPAreaMod", "修改(&M)", &TfrmPacketRule::MenuItem_IPAreaModClick);
  area->addSeparator();
  MenuAction(area, "MenuItem_IPAreaAdd", "增加(&A)", &TfrmPacketRule::MenuItem_IPAreaAddClick);
  MenuAction(area, "MenuItem_IPAreaDel", "删除(&D)", &TfrmPacketRule::MenuItem_IPAreaDelClick);
  area->addSeparator();
  MenuAction(area, "MenuItem_IPAreaDelAll", "全部删除(&C)", &TfrmPacketRule::MenuItem_IPAreaDelAllClick);

  connect(ListBoxIPAreaFilter, &QListWidget::itemDoubleClicked, this,
          [this] { WithErrorBox(this, [this] { MenuItem_IPAreaModClick(); }); });
  connect(btnSave, &QPushButton::clicked, this, &TfrmPacketRule::btnSaveClick);
  connect(btnClose, &QPushButton::clicked, this, &TfrmPacketRule::btnCloseClick);
  FormCreate();
}

QMenu* TfrmPacketRule::PopupMenu(QListWidget* list, const char* name) {
  auto* menu = new QMenu(this);
  menu->setObjectName(name);
  connect(list, &QListWidget::customContextMenuRequested, menu,
          [list, menu](const QPoint& pos) { menu->popup(list->viewport()->mapToGlobal(pos)); });
  return menu;
}

QAction* TfrmPacketRule::MenuAction(QMenu* menu, const char* name, const QString& caption,
                                    void (TfrmPacketRule::*handler)()) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  // An error must not leave the slot: it would end the program.
  connect(action, &QAction::triggered, this, [this, handler] { WithErrorBox(this, [this, handler] { (this->*handler)(); }); });
  return action;
}

void TfrmPacketRule::FormCreate() {
  m_ShowOpen = false;
  ListBoxActiveList->clear();
  ListBoxTempList->clear();
  ListBoxBlockList->clear();
}

void TfrmPacketRule::Open(const QPoint& at) {
  m_ShowOpen = false;
  move(at);
  bool filled = false;
  WithErrorBox(this, [this, &filled] {
    APOPMENU_REFLISTClick();
    FillLists();
    filled = true;
  });
  if (!filled) return;
  PageControl->setCurrentIndex(0);
  m_ShowOpen = true;
  btnSave->setEnabled(false);
  exec();
  m_ShowOpen = false;
}

void TfrmPacketRule::FillLists() {
  FillAddresses(ListBoxTempList, g_TempBlockIPList);
  FillAddresses(ListBoxBlockList, g_BlockIPList);
  ListBoxIPAreaFilter->clear();
  for (const TBlockIPArea& e : g_BlockIPAreaList)
    AddAreaItem(ListBoxIPAreaFilter, QString::fromStdString(e.sText), e.Area);
}

void TfrmPacketRule::ListChanged() { btnSave->setEnabled(true); }

// ---- Enable rules ----

void TfrmPacketRule::ActiveListPopupMenuPopup() {
  EnableActions({"APOPMENU_REFLIST"}, true);
  EnableActions({"APOPMENU_SORT"}, ListBoxActiveList->count() > 0);
  EnableActions(
      {"APOPMENU_ADDTEMPLIST", "APOPMENU_BLOCKLIST", "APOPMENU_AllToTempBLOCKLIST", "APOPMENU_AllToBLOCKLIST"},
      Selection(ListBoxActiveList) >= 0);
}

void TfrmPacketRule::TempBlockListPopupMenuPopup() {
  EnableActions({"TPOPMENU_REFLIST", "TPOPMENU_ADD"}, true);
  EnableActions({"TPOPMENU_SORT", "TPOPMENU_DELETE_ALL"}, ListBoxTempList->count() > 0);
  EnableActions({"TPOPMENU_DELETE", "TPOPMENU_ADDTOBLOCKLIST", "TPOPMENU_ALLTOBLOCKLIST"},
                Selection(ListBoxTempList) >= 0);
}

void TfrmPacketRule::BlockListPopupMenuPopup() {
  EnableActions({"BPOPMENU_REFLIST", "BPOPMENU_ADD"}, true);
  EnableActions({"BPOPMENU_SORT", "BPOPMENU_DELETE_ALL"}, ListBoxBlockList->count() > 0);
  EnableActions({"BPOPMENU_DELETE", "BPOPMENU_ADDTEMPLIST", "BPOPMENU_ALLTOTEMPLIST"},
                Selection(ListBoxBlockList) >= 0);
}

void TfrmPacketRule::PopupMenu_IPAreaFilterPopup() {
  EnableActions({"MenuItem_IPAreaAdd"}, true);
  EnableActions({"MenuItem_IPAreaDelAll"}, ListBoxIPAreaFilter->count() > 0);
  EnableActions({"MenuItem_IPAreaDel", "MenuItem_IPAreaMod"}, Selection(ListBoxIPAreaFilter) >= 0);
}

void TfrmPacketRule::EnableActions(std::initializer_list<const char*> names, bool enabled) {
  for (const char* name : names) findChild<QAction*>(name)->setEnabled(enabled);
}

// ---- Connected addresses ----

void TfrmPacketRule::APOPMENU_REFLISTClick() {
  ListBoxActiveList->clear();
  for (const auto& [address, time] : g_IPaddrList) {
    AddAddressItem(ListBoxActiveList, QString::fromStdString(InetNtoa(static_cast<uint32_t>(address))), address);
  }
}

void TfrmPacketRule::APOPMENU_SORTClick() { ListBoxActiveList->sortItems(); }

void TfrmPacketRule::APOPMENU_ADDTEMPLISTClick() {
  const int row = Selection(ListBoxActiveList);
  if (row < 0) return;
  const QString address = ActiveAddress(ListBoxActiveList->item(row));
  if (ShowMessageBox(this, "是否确认将此IP: " + address + " 加入动态过滤列表中？", kConfirmCaption,
                     QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  const int32_t value = AddressValue(address);
  if (!CarriesValue(ListBoxTempList, value)) AddAddress(ListBoxTempList, g_TempBlockIPList, address, value);
}

void TfrmPacketRule::APOPMENU_BLOCKLISTClick() {
  const int row = Selection(ListBoxActiveList);
  if (row < 0) return;
  const QString address = ActiveAddress(ListBoxActiveList->item(row));
  if (ShowMessageBox(this, "是否确认将此IP: " + address + " 加入永久过滤列表中？", kConfirmCaption,
                     QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  const int32_t value = AddressValue(address);
  if (!CarriesValue(ListBoxBlockList, value)) {
    AddAddress(ListBoxBlockList, g_BlockIPList, address, value);
    ListChanged();
  }
}

void TfrmPacketRule::APOPMENU_AllToTempBLOCKLISTClick() {
  if (ListBoxActiveList->count() == 0) return;
  if (ShowMessageBox(this, "是否确认将此所有的IP连接加入动态过滤列表中？", kConfirmCaption, QMessageBox::Question,
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  for (int i = 0; i < ListBoxActiveList->count(); ++i) {
    const QListWidgetItem* item = ListBoxActiveList->item(i);
    if (!CarriesValue(ListBoxTempList, ItemValue(item))) {
      AddAddress(ListBoxTempList, g_TempBlockIPList, ActiveAddress(item), ItemValue(item));
    }
  }
}

void TfrmPacketRule::APOPMENU_AllToBLOCKLISTClick() {
  if (ListBoxActiveList->count() == 0) return;
  if (ShowMessageBox(this, "是否确认将此所有的IP连接加入永久过滤列表中？", kConfirmCaption, QMessageBox::Question,
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  for (int i = 0; i < ListBoxActiveList->count(); ++i) {
    const QListWidgetItem* item = ListBoxActiveList->item(i);
    if (!CarriesValue(ListBoxBlockList, ItemValue(item))) {
      AddAddress(ListBoxBlockList, g_BlockIPList, ActiveAddress(item), ItemValue(item));
      ListChanged();
    }
  }
}

// ---- Temporary list ----

void TfrmPacketRule::TPOPMENU_REFLISTClick() { FillAddresses(ListBoxTempList, g_TempBlockIPList); }

void TfrmPacketRule::TPOPMENU_SORTClick() { ListBoxTempList->sortItems(); }

void TfrmPacketRule::TPOPMENU_ADDClick() {
  QString text;
  if (InputQuery(this, kAddCaption, kAddPrompt, text)) {
    AddAddress(ListBoxTempList, g_TempBlockIPList, text, AddressValue(text));
  }
}

void TfrmPacketRule::TPOPMENU_DELETEClick() { DeleteSelected(ListBoxTempList, g_TempBlockIPList); }

void TfrmPacketRule::TPOPMENU_DELETE_ALLClick() {
  ListBoxTempList->clear();
  g_TempBlockIPList.clear();
}

void TfrmPacketRule::TPOPMENU_ADDTOBLOCKLISTClick() {
  if (MoveSelected(ListBoxTempList, g_TempBlockIPList, ListBoxBlockList, g_BlockIPList)) ListChanged();
}

void TfrmPacketRule::TPOPMENU_ALLTOBLOCKLISTClick() {
  if (MoveAll(ListBoxTempList, g_TempBlockIPList, ListBoxBlockList, g_BlockIPList)) ListChanged();
}

// ---- Permanent list: every change can be saved ----

void TfrmPacketRule::BPOPMENU_REFLISTClick() { FillAddresses(ListBoxBlockList, g_BlockIPList); }

void TfrmPacketRule::BPOPMENU_SORTClick() { ListBoxBlockList->sortItems(); }

void TfrmPacketRule::BPOPMENU_ADDClick() {
  QString text;
  if (InputQuery(this, kAddCaption, kAddPrompt, text)) {
    AddAddress(ListBoxBlockList, g_BlockIPList, text, AddressValue(text));
    ListChanged();
  }
}

void TfrmPacketRule::BPOPMENU_DELETEClick() {
  if (DeleteSelected(ListBoxBlockList, g_BlockIPList)) ListChanged();
}

void TfrmPacketRule::BPOPMENU_DELETE_ALLClick() {
  const bool had = ListBoxBlockList->count() > 0 || !g_BlockIPList.empty();
  ListBoxBlockList->clear();
  g_BlockIPList.clear();
  if (had) ListChanged();
}

void TfrmPacketRule::BPOPMENU_ADDTEMPLISTClick() {
  if (MoveSelected(ListBoxBlockList, g_BlockIPList, ListBoxTempList, g_TempBlockIPList)) ListChanged();
}

void TfrmPacketRule::BPOPMENU_ALLTOTEMPLISTClick() {
  if (ListBoxBlockList->count() == 0) return;
  MoveAll(ListBoxBlockList, g_BlockIPList, ListBoxTempList, g_TempBlockIPList);
  ListChanged();
}

// ---- Ranges ----

void TfrmPacketRule::MenuItem_IPAreaAddClick() {
  QString text;
  if (!InputQuery(this, "IP段过滤", "输入一个由小到大的IP范围，中间用\"-\"号间隔", text) || text.isEmpty()) return;
  TIPArea area{};
  if (!ReadTypedArea(this, text, area)) return;
  for (const TBlockIPArea& e : g_BlockIPAreaList) {
    if (SameArea(*e.Area, area)) {
      ShowMessageBox(this, "输入的IP范围已经存在于列表中！", "提示", QMessageBox::Warning);
      return;
    }
  }
  auto record = std::make_shared<TIPArea>(area);
  AddAreaItem(ListBoxIPAreaFilter, text, record);
  g_BlockIPAreaList.push_back({text.toStdString(), record});
  ListChanged();
}

void TfrmPacketRule::MenuItem_IPAreaModClick() {
  const int row = Selection(ListBoxIPAreaFilter);
  if (row < 0) return;
  QListWidgetItem* item = ListBoxIPAreaFilter->item(row);
  QString text = item->text();
  if (!InputQuery(this, "IP段过滤修改", "请注意输入格式(192.168.1.1-192.168.1.255)", text) || text.isEmpty())
    return;
  TIPArea area{};
  if (!ReadTypedArea(this, text, area)) return;
  const std::shared_ptr<TIPArea> record = ItemArea(item);
  const int entry = FindAreaEntry(row, *record);
  item->setText(text);
  if (entry >= 0) {
    g_BlockIPAreaList[entry].sText = text.toStdString();
    *g_BlockIPAreaList[entry].Area = area;
  }
  *record = area;  // the item's own record, the same as the entry's
  ListChanged();
}

void TfrmPacketRule::MenuItem_IPAreaDelClick() {
  const int row = Selection(ListBoxIPAreaFilter);
  if (row < 0) return;
  const int entry = FindAreaEntry(row, *ItemArea(ListBoxIPAreaFilter->item(row)));
  if (entry >= 0) g_BlockIPAreaList.erase(g_BlockIPAreaList.begin() + entry);
  delete ListBoxIPAreaFilter->takeItem(row);
  ListChanged();
}

void TfrmPacketRule::MenuItem_IPAreaDelAllClick() {
  g_BlockIPAreaList.clear();
  ListBoxIPAreaFilter->clear();
  ListChanged();
}

// ---- Buttons ----

void TfrmPacketRule::btnSaveClick() {
  btnSave->setEnabled(false);
  WithErrorBox(this, [] {
    SaveBlockIPList();
    SaveBlockIPAreaList();
  });
}

void TfrmPacketRule::btnCloseClick() { accept(); }
