// The security filter dialog: lists, context menus and their enable rules, range checks, save.
#include "console/PacketRuleConfig.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <stdexcept>

#include "ConsoleTestBed.h"
#include "console/MainUnit.h"
#include "platform/Inet.h"
#include "settings/IPAddrFilter.h"

namespace {

constexpr uint32_t Host(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

int32_t Value(const char* address) { return static_cast<int32_t>(InetAddr(address)); }

QListWidget* List(QWidget* d, const char* name) { return d->findChild<QListWidget*>(name); }

QStringList Texts(const QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
  return texts;
}

std::vector<std::string> Texts(const std::vector<TBlockIP>& list) {
  std::vector<std::string> texts;
  for (const TBlockIP& e : list) texts.push_back(e.sIP);
  return texts;
}

std::shared_ptr<TIPArea> ItemArea(const QListWidget* list, int row) {
  return list->item(row)->data(Qt::UserRole).value<std::shared_ptr<TIPArea>>();
}

QMenu* MenuOf(QListWidget* list) {
  const char* menus[][2] = {{"ListBoxActiveList", "ActiveListPopupMenu"},
                            {"ListBoxTempList", "TempBlockListPopupMenu"},
                            {"ListBoxBlockList", "BlockListPopupMenu"},
                            {"ListBoxIPAreaFilter", "PopupMenu_IPAreaFilter"}};
  for (const auto& m : menus) {
    if (list->objectName() == m[0]) return list->window()->findChild<QMenu*>(m[1]);
  }
  qFatal("no menu for %s", qPrintable(list->objectName()));
}

// The list box's context menu as it opens, its enable rules applied (the opening itself, on a right
// click, is tested once: the offscreen platform warns at every popup).
QMenu* PopUp(QListWidget* list) {
  QMenu* menu = MenuOf(list);
  emit menu->aboutToShow();
  return menu;
}

QStringList EnabledItems(QListWidget* list) {
  QStringList texts;
  for (QAction* a : PopUp(list)->actions()) {
    if (!a->isSeparator() && a->isEnabled()) texts << a->text();
  }
  return texts;
}

// Opens the list box's menu and picks the item, as the operator would; false when it is disabled.
bool Choose(QListWidget* list, const char* action) {
  QAction* a = PopUp(list)->findChild<QAction*>(action);
  if (!a || !a->isEnabled()) return false;
  a->trigger();
  return true;
}

void Select(QListWidget* list, const QString& text) {
  const auto found = list->findItems(text, Qt::MatchExactly);
  if (found.isEmpty()) qFatal("no item %s", qPrintable(text));
  list->setCurrentItem(found.first());
}

bool SaveEnabled(QWidget* d) { return d->findChild<QPushButton*>("btnSave")->isEnabled(); }

}  // namespace

class PacketRuleTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { bed_ = std::make_unique<TConsoleTestBed>(); }
  void cleanup() { bed_.reset(); }

  void shownFromTheMainWindowWithTheGlobalLists() {
    bed_->WriteConfig(FreePort(), "");
    bed_->Dir.WriteFile("BlockIPList.txt", "9.9.9.9\r\n1.1.1.1\r\n");
    bed_->Dir.WriteFile("BlockIPAreaList.txt", "10.0.0.9-10.0.0.1\r\n1.0.0.0-1.0.0.5\r\n");
    TMainForm form;
    TfrmPacketRule dialog;
    frmPacketRule = &dialog;
    g_TempBlockIPList = {{"8.8.8.8", Value("8.8.8.8")}};
    form.move(40, 60);
    bool seen = false;
    WhenModal([&](QWidget* d) {
      QCOMPARE(d->windowTitle(), QString("安全过滤设置"));
      QCOMPARE(d->pos(), form.pos() + QPoint(0, 20));
      QVERIFY(dialog.m_ShowOpen);
      QVERIFY(!SaveEnabled(d));
      QCOMPARE(d->findChild<QTabWidget*>("PageControl")->tabText(0), QString(" 连接列表"));
      QCOMPARE(Texts(List(d, "ListBoxTempList")), QStringList{"8.8.8.8"});
      QCOMPARE(Texts(List(d, "ListBoxBlockList")), (QStringList{"1.1.1.1", "9.9.9.9"}));  // sorted
      QCOMPARE(Texts(List(d, "ListBoxIPAreaFilter")), (QStringList{"10.0.0.9-10.0.0.1", "1.0.0.0-1.0.0.5"}));
      QCOMPARE(ItemArea(List(d, "ListBoxIPAreaFilter"), 0), g_BlockIPAreaList[0].Area);  // one shared record
      QCOMPARE(List(d, "ListBoxActiveList")->count(), 0);
      QListWidget* active = List(d, "ListBoxActiveList");
      emit active->customContextMenuRequested(QPoint(2, 2));  // a right click opens the menu
      QTRY_VERIFY(MenuOf(active)->isVisible());
      MenuOf(active)->hide();
      QCOMPARE(EnabledItems(List(d, "ListBoxActiveList")), QStringList{"刷新(&R)"});
      seen = true;
    });
    form.S1Click();
    QVERIFY(seen);
    QVERIFY(!dialog.m_ShowOpen);
    frmPacketRule = nullptr;
  }

  void menusFollowTheEnableRules() {
    g_TempBlockIPList = {{"1.1.1.1", Value("1.1.1.1")}};
    g_BlockIPList = {{"2.2.2.2", Value("2.2.2.2")}};
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      QCOMPARE(EnabledItems(List(d, "ListBoxTempList")),
               (QStringList{"刷新(&R)", "排序(&S)", "增加(&A)", "全部删除(&C)"}));
      Select(List(d, "ListBoxTempList"), "1.1.1.1");
      QCOMPARE(EnabledItems(List(d, "ListBoxTempList")),
               (QStringList{"刷新(&R)", "排序(&S)", "增加(&A)", "删除(&D)", "全部删除(&C)", "加入永久过滤列表(&A)",
                            "全部加入永久过滤列表(&B)"}));
      QCOMPARE(EnabledItems(List(d, "ListBoxBlockList")),
               (QStringList{"刷新(&R)", "排序(&S)", "增加(&A)", "全部删除(&C)"}));
      QCOMPARE(EnabledItems(List(d, "ListBoxIPAreaFilter")), QStringList{"增加(&A)"});
      List(d, "ListBoxTempList")->clearSelection();
      QCOMPARE(EnabledItems(List(d, "ListBoxTempList")),
               (QStringList{"刷新(&R)", "排序(&S)", "增加(&A)", "全部删除(&C)"}));

      QStringList all;
      for (QAction* a : PopUp(List(d, "ListBoxIPAreaFilter"))->actions())
        all << (a->isSeparator() ? "-" : a->text());
      QCOMPARE(all, (QStringList{"修改(&M)", "-", "增加(&A)", "删除(&D)", "-", "全部删除(&C)"}));
    });
    dialog.Open(QPoint(0, 0));
  }

  void rangeAddChecksFormatBoundsAndDuplicates() {
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      QListWidget* ranges = List(d, "ListBoxIPAreaFilter");
      const std::pair<QString, QString> refused[] = {
          {"10.0.0.1", "输入格式错误，正确格式如下：192.168.1.1-192.168.1.255"},
          {"x-10.0.0.1", "输入的低位IP格式错误"},
          {"10.0.0.1-10.0.0.256", "输入的高位IP格式错误"},
          {"10.0.0.1-255.255.255.255", "输入的高位IP格式错误"},
      };
      for (const auto& [typed, message] : refused) {
        bed_->Boxes.clear();
        bed_->Typed = {typed};
        QVERIFY(Choose(ranges, "MenuItem_IPAreaAdd"));
        QCOMPARE(bed_->Boxes.size(), size_t{1});
        QCOMPARE(bed_->Boxes[0].Text, message);
        QCOMPARE(bed_->Boxes[0].Caption, QString("错误"));
        QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Critical);
      }
      bed_->Boxes.clear();
      bed_->Typed = {std::nullopt, QString()};  // Cancel, then OK on an empty text
      QVERIFY(Choose(ranges, "MenuItem_IPAreaAdd"));
      QVERIFY(Choose(ranges, "MenuItem_IPAreaAdd"));
      QVERIFY(bed_->Boxes.empty());
      QCOMPARE(ranges->count(), 0);
      QVERIFY(g_BlockIPAreaList.empty());
      QVERIFY(!SaveEnabled(d));

      bed_->Typed = {"10.0.0.9-10.0.0.1"};
      QVERIFY(Choose(ranges, "MenuItem_IPAreaAdd"));
      QCOMPARE(bed_->Inputs.back().Caption, QString("IP段过滤"));
      QCOMPARE(bed_->Inputs.back().Prompt, QString("输入一个由小到大的IP范围，中间用\"-\"号间隔"));
      QCOMPARE(bed_->Inputs.back().Initial, QString());
      QCOMPARE(Texts(ranges), QStringList{"10.0.0.9-10.0.0.1"});
      QCOMPARE(g_BlockIPAreaList.size(), size_t{1});
      QCOMPARE(g_BlockIPAreaList[0].sText, std::string("10.0.0.9-10.0.0.1"));
      QCOMPARE(g_BlockIPAreaList[0].Area->Low, Host(10, 0, 0, 1));
      QCOMPARE(g_BlockIPAreaList[0].Area->High, Host(10, 0, 0, 9));
      QCOMPARE(ItemArea(ranges, 0), g_BlockIPAreaList[0].Area);
      QVERIFY(SaveEnabled(d));

      bed_->Typed = {"10.0.0.1-10.0.0.9"};
      QVERIFY(Choose(ranges, "MenuItem_IPAreaAdd"));
      QCOMPARE(bed_->Boxes.size(), size_t{1});
      QCOMPARE(bed_->Boxes[0].Text, QString("输入的IP范围已经存在于列表中！"));
      QCOMPARE(bed_->Boxes[0].Caption, QString("提示"));
      QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Warning);
      QCOMPARE(ranges->count(), 1);
    });
    dialog.Open(QPoint(0, 0));
  }

  void rangeEditAndDeleteKeepTheRecordsShared() {
    bed_->Dir.WriteFile("BlockIPAreaList.txt", "1.0.0.1-1.0.0.2\r\n2.0.0.1-2.0.0.2\r\n3.0.0.1-3.0.0.2\r\n");
    LoadBlockIPAreaList();
    const auto first = g_BlockIPAreaList[0].Area, second = g_BlockIPAreaList[1].Area;
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      QListWidget* ranges = List(d, "ListBoxIPAreaFilter");
      QVERIFY(!Choose(ranges, "MenuItem_IPAreaMod"));  // nothing selected
      ranges->setCurrentRow(1);
      bed_->Typed = {"2.0.0.9-2.0.0.5"};
      QVERIFY(Choose(ranges, "MenuItem_IPAreaMod"));
      QCOMPARE(bed_->Inputs.back().Caption, QString("IP段过滤修改"));
      QCOMPARE(bed_->Inputs.back().Prompt, QString("请注意输入格式(192.168.1.1-192.168.1.255)"));
      QCOMPARE(bed_->Inputs.back().Initial, QString("2.0.0.1-2.0.0.2"));
      QCOMPARE(ranges->item(1)->text(), QString("2.0.0.9-2.0.0.5"));
      QCOMPARE(g_BlockIPAreaList[1].sText, std::string("2.0.0.9-2.0.0.5"));
      QCOMPARE(g_BlockIPAreaList[1].Area, second);
      QCOMPARE(second->Low, Host(2, 0, 0, 5));
      QCOMPARE(second->High, Host(2, 0, 0, 9));
      QVERIFY(SaveEnabled(d));

      // A double click edits too; a malformed text changes nothing.
      bed_->Typed = {"2.0.0.1"};
      const QPoint at = ranges->visualItemRect(ranges->item(1)).center();
      QTest::mousePress(ranges->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(ranges->viewport(), Qt::LeftButton, {}, at);
      QCOMPARE(bed_->Inputs.back().Initial, QString("2.0.0.9-2.0.0.5"));
      QCOMPARE(bed_->Boxes.back().Text, QString("输入格式错误，正确格式如下：192.168.1.1-192.168.1.255"));
      QCOMPARE(g_BlockIPAreaList[1].sText, std::string("2.0.0.9-2.0.0.5"));
      QCOMPARE(second->Low, Host(2, 0, 0, 5));

      // Deleting the last range removes exactly that one.
      ranges->setCurrentRow(2);
      QVERIFY(Choose(ranges, "MenuItem_IPAreaDel"));
      QCOMPARE(Texts(ranges), (QStringList{"1.0.0.1-1.0.0.2", "2.0.0.9-2.0.0.5"}));
      QCOMPARE(g_BlockIPAreaList.size(), size_t{2});
      QCOMPARE(g_BlockIPAreaList[0].Area, first);
      QCOMPARE(g_BlockIPAreaList[1].Area, second);
      QCOMPARE(ItemArea(ranges, 0), first);
      QCOMPARE(first->High, Host(1, 0, 0, 2));

      d->findChild<QPushButton*>("btnSave")->click();
      QVERIFY(!SaveEnabled(d));
      QVERIFY(Choose(ranges, "MenuItem_IPAreaDelAll"));
      QCOMPARE(ranges->count(), 0);
      QVERIFY(g_BlockIPAreaList.empty());
      QVERIFY(SaveEnabled(d));
    });
    dialog.Open(QPoint(0, 0));
    QCOMPARE(bed_->Dir.ReadFile("BlockIPAreaList.txt"), std::string("1.0.0.1-1.0.0.2\r\n2.0.0.9-2.0.0.5\r\n"));
  }

  // Every change of the permanent list enables the save button; changes of the temporary list,
  // which is never stored, do not.
  void permanentListEditsCanBeSaved() {
    struct Case {
      const char* list;
      const char* action;
      const char* select;  // nullptr: no selection needed
      bool enables;
    } cases[] = {
        {"ListBoxBlockList", "BPOPMENU_ADD", nullptr, true},
        {"ListBoxBlockList", "BPOPMENU_DELETE", "2.2.2.2", true},
        {"ListBoxBlockList", "BPOPMENU_DELETE_ALL", nullptr, true},
        {"ListBoxBlockList", "BPOPMENU_ADDTEMPLIST", "2.2.2.2", true},
        {"ListBoxBlockList", "BPOPMENU_ALLTOTEMPLIST", "2.2.2.2", true},
        {"ListBoxTempList", "TPOPMENU_ADDTOBLOCKLIST", "1.1.1.1", true},
        {"ListBoxTempList", "TPOPMENU_ALLTOBLOCKLIST", "1.1.1.1", true},
        {"ListBoxTempList", "TPOPMENU_ADD", nullptr, false},
        {"ListBoxTempList", "TPOPMENU_DELETE", "1.1.1.1", false},
        {"ListBoxTempList", "TPOPMENU_DELETE_ALL", nullptr, false},
    };
    TfrmPacketRule dialog;
    for (const Case& c : cases) {
      g_TempBlockIPList = {{"1.1.1.1", Value("1.1.1.1")}};
      g_BlockIPList = {{"2.2.2.2", Value("2.2.2.2")}};
      bed_->Typed = {"3.3.3.3"};
      WhenModal([&](QWidget* d) {
        if (c.select) Select(List(d, c.list), c.select);
        QVERIFY2(Choose(List(d, c.list), c.action), c.action);
        QVERIFY2(SaveEnabled(d) == c.enables, c.action);
      });
      dialog.Open(QPoint(0, 0));
    }

    // The added address is written by the save button, without any range change.
    g_BlockIPList.clear();
    bed_->Typed = {"10.1.1.1"};
    WhenModal([&](QWidget* d) {
      QVERIFY(Choose(List(d, "ListBoxBlockList"), "BPOPMENU_ADD"));
      QCOMPARE(bed_->Inputs.back().Caption, QString("永久IP过滤"));
      QCOMPARE(bed_->Inputs.back().Prompt, QString("请输入一个新的IP地址: "));
      d->findChild<QPushButton*>("btnSave")->click();
    });
    dialog.Open(QPoint(0, 0));
    QCOMPARE(g_BlockIPList.at(0).nIP, Value("10.1.1.1"));
    QCOMPARE(bed_->Dir.ReadFile("BlockIPList.txt"), std::string("10.1.1.1\r\n"));
  }

  void movingAllSkipsAddressesAlreadyThere() {
    g_TempBlockIPList = {
        {"3.3.3.3", Value("3.3.3.3")}, {"1.1.1.1", Value("1.1.1.1")}, {"2.2.2.2", Value("2.2.2.2")}};
    g_BlockIPList = {{"2.2.2.2", Value("2.2.2.2")}};
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      Select(List(d, "ListBoxTempList"), "1.1.1.1");
      QVERIFY(Choose(List(d, "ListBoxTempList"), "TPOPMENU_ALLTOBLOCKLIST"));
      QCOMPARE(Texts(List(d, "ListBoxBlockList")), (QStringList{"1.1.1.1", "2.2.2.2", "3.3.3.3"}));
      QCOMPARE(List(d, "ListBoxTempList")->count(), 0);
    });
    dialog.Open(QPoint(0, 0));
    QCOMPARE(Texts(g_BlockIPList), (std::vector<std::string>{"2.2.2.2", "1.1.1.1", "3.3.3.3"}));
    QCOMPARE(g_BlockIPList[1].nIP, Value("1.1.1.1"));
    QVERIFY(g_TempBlockIPList.empty());
  }

  void deletingAnAddressEnteredTwiceRemovesOne() {
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      QListWidget* temp = List(d, "ListBoxTempList");
      bed_->Typed = {"5.5.5.5", "not an address", "5.5.5.5"};
      for (int i = 0; i < 3; ++i) QVERIFY(Choose(temp, "TPOPMENU_ADD"));
      QCOMPARE(temp->count(), 3);
      Select(temp, "5.5.5.5");
      QVERIFY(Choose(temp, "TPOPMENU_DELETE"));
      QCOMPARE(Texts(temp), (QStringList{"5.5.5.5", "not an address"}));
    });
    dialog.Open(QPoint(0, 0));
    QCOMPARE(Texts(g_TempBlockIPList), (std::vector<std::string>{"not an address", "5.5.5.5"}));
    QCOMPARE(g_TempBlockIPList[0].nIP, -1);  // kept as typed, with no address value
  }

  void anErrorInAMenuCommandGoesToTheErrorBox() {
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      ConsoleDialogs().InputQuery = [](QWidget*, const QString&, const QString&, QString&) -> bool {
        throw std::length_error("too long");
      };
      QVERIFY(Choose(List(d, "ListBoxTempList"), "TPOPMENU_ADD"));  // the slot returns normally
      QCOMPARE(bed_->Boxes.size(), size_t{1});
      QCOMPARE(bed_->Boxes[0].Text, QString("too long."));
      QCOMPARE(bed_->Boxes[0].Icon, QMessageBox::Critical);
      QCOMPARE(List(d, "ListBoxTempList")->count(), 0);
    });
    dialog.Open(QPoint(0, 0));
  }

  void connectedAddressesJoinTheListsOnConfirmation() {
    g_IPaddrList = {{Value("1.2.3.4"), 0}, {Value("5.6.7.8"), 0}};
    TfrmPacketRule dialog;
    WhenModal([&](QWidget* d) {
      QListWidget* active = List(d, "ListBoxActiveList");
      QCOMPARE(Texts(active), (QStringList{"1.2.3.4", "5.6.7.8"}));
      QCOMPARE(EnabledItems(active), (QStringList{"刷新(&R)", "排序(&S)"}));
      Select(active, "1.2.3.4");
      QCOMPARE(EnabledItems(active).size(), 6);

      bed_->Answer = QMessageBox::Cancel;
      QVERIFY(Choose(active, "APOPMENU_ADDTEMPLIST"));
      QCOMPARE(bed_->Boxes.back().Text, QString("是否确认将此IP: 1.2.3.4 加入动态过滤列表中？"));
      QCOMPARE(bed_->Boxes.back().Caption, QString("确认信息"));
      QCOMPARE(bed_->Boxes.back().Icon, QMessageBox::Question);
      QCOMPARE(bed_->Boxes.back().Buttons, QMessageBox::Ok | QMessageBox::Cancel);
      QVERIFY(g_TempBlockIPList.empty());

      bed_->Answer = QMessageBox::Ok;
      QVERIFY(Choose(active, "APOPMENU_ADDTEMPLIST"));
      QVERIFY(Choose(active, "APOPMENU_ADDTEMPLIST"));  // already there by value
      QCOMPARE(Texts(List(d, "ListBoxTempList")), QStringList{"1.2.3.4"});
      QVERIFY(!SaveEnabled(d));

      QVERIFY(Choose(active, "APOPMENU_BLOCKLIST"));
      QCOMPARE(bed_->Boxes.back().Text, QString("是否确认将此IP: 1.2.3.4 加入永久过滤列表中？"));
      QVERIFY(SaveEnabled(d));
      QVERIFY(Choose(active, "APOPMENU_AllToBLOCKLIST"));
      QCOMPARE(bed_->Boxes.back().Text, QString("是否确认将此所有的IP连接加入永久过滤列表中？"));
      QCOMPARE(Texts(List(d, "ListBoxBlockList")), (QStringList{"1.2.3.4", "5.6.7.8"}));
      QVERIFY(Choose(active, "APOPMENU_AllToTempBLOCKLIST"));
      QCOMPARE(bed_->Boxes.back().Text, QString("是否确认将此所有的IP连接加入动态过滤列表中？"));
      QCOMPARE(Texts(List(d, "ListBoxTempList")), (QStringList{"1.2.3.4", "5.6.7.8"}));
    });
    dialog.Open(QPoint(0, 0));
    QCOMPARE(g_BlockIPList.size(), size_t{2});
    QCOMPARE(g_BlockIPList[1].nIP, Value("5.6.7.8"));
  }

 private:
  std::unique_ptr<TConsoleTestBed> bed_;
};

QTEST_MAIN(PacketRuleTest)
#include "PacketRuleConfig_test.moc"
