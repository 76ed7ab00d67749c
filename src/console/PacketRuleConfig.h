// The security filter dialog: the editor of the address block lists (temporary, permanent, ranges)
// with the read-only list of connected addresses, its context menus with their enable rules, and
// the save of the permanent and range lists. Created once at start and shown again and again; the
// menu item that shows it is hidden.
// Window thread only. List box items carry the entry's value, or the range record they share with
// g_BlockIPAreaList.
#pragma once

#include <QDialog>
#include <QMetaType>
#include <QPoint>
#include <initializer_list>
#include <memory>

#include "settings/IPAddrFilter.h"

// A range list box item's data: the record it shares with its g_BlockIPAreaList entry.
Q_DECLARE_METATYPE(std::shared_ptr<TIPArea>)

class QAction;
class QListWidget;
class QMenu;
class QPushButton;
class QTabWidget;

class TfrmPacketRule : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmPacketRule(QWidget* parent = nullptr);  // runs FormCreate

  void FormCreate();
  // Places the dialog at `at`, rebuilds every list box from its list, and shows it modally with
  // btnSave disabled.
  void Open(const QPoint& at);
  // The temporary, permanent and range list boxes from the global lists, in their order.
  void FillLists();

  // Menu opening: the enable rules.
  void ActiveListPopupMenuPopup();
  void TempBlockListPopupMenuPopup();
  void BlockListPopupMenuPopup();
  void PopupMenu_IPAreaFilterPopup();

  void APOPMENU_REFLISTClick();
  void APOPMENU_SORTClick();
  void APOPMENU_ADDTEMPLISTClick();
  void APOPMENU_BLOCKLISTClick();
  void APOPMENU_AllToTempBLOCKLISTClick();
  void APOPMENU_AllToBLOCKLISTClick();

  void TPOPMENU_REFLISTClick();
  void TPOPMENU_SORTClick();
  void TPOPMENU_ADDClick();
  void TPOPMENU_DELETEClick();
  void TPOPMENU_DELETE_ALLClick();
  void TPOPMENU_ADDTOBLOCKLISTClick();
  void TPOPMENU_ALLTOBLOCKLISTClick();

  void BPOPMENU_REFLISTClick();
  void BPOPMENU_SORTClick();
  void BPOPMENU_ADDClick();
  void BPOPMENU_DELETEClick();
  void BPOPMENU_DELETE_ALLClick();
  void BPOPMENU_ADDTEMPLISTClick();
  void BPOPMENU_ALLTOTEMPLISTClick();

  void MenuItem_IPAreaAddClick();
  void MenuItem_IPAreaModClick();
  void MenuItem_IPAreaDelClick();
  void MenuItem_IPAreaDelAllClick();

  void btnSaveClick();
  void btnCloseClick();

  // True while the dialog is shown.
  bool m_ShowOpen = false;

 private:
  QMenu* PopupMenu(QListWidget* list, const char* name);
  QAction* MenuAction(QMenu* menu, const char* name, const QString& caption, void (TfrmPacketRule::*handler)());
  void EnableActions(std::initializer_list<const char*> names, bool enabled);
  // An edit of the permanent or range list: it can now be saved.
  void ListChanged();

  QTabWidget* PageControl = nullptr;
  QListWidget* ListBoxActiveList = nullptr;
  QListWidget* ListBoxTempList = nullptr;
  QListWidget* ListBoxBlockList = nullptr;
  QListWidget* ListBoxIPAreaFilter = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnClose = nullptr;
};
