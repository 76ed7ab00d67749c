// The file rules dialog: the resource lists the clients are served, with a live check of every JPK
// library (does the file exist, does its password open it) drawn red on yellow when it fails; and
// the hidden scan of a client installation that rebuilds the lists, with its hidden save.
// Window thread only; the caller creates it, sets SearchDir and ResourcesDir, calls Open, frees it.
#pragma once

#include <QDialog>
#include <QStyledItemDelegate>
#include <string>

#include "platform/ReadFile.h"

class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;

// Paints a status cell other than "正常" red on yellow; every other cell the usual way.
class TStatusCellDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class TFrmFileRulesDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kStatusColumn = 3;

  // The libraries are checked in `files`, which must outlive the dialog.
  explicit TFrmFileRulesDlg(QWidget* parent = nullptr, const TFileSource& files = OsFiles());

  // Prepares the directories and the grid and fills the pages; then shows the dialog modally. An
  // error while a library is checked goes to the error box, and the dialog is not shown.
  void Open();
  // The grid and the memos from the lists, checking every JPK library again.
  void RefViewList();
  void ButtonLoadFileClick();
  // Adds the resource files directly inside `sLibsPath` (ending in a separator) to the lists.
  void SearchLib(const std::string& sLibsPath);
  void ButtonSaveClick();

  std::string SearchDir;     // client directory; g_MyDir when empty
  std::string ResourcesDir;  // resource sub-directory name; "Resources" when empty

 private:
  void Prepare();

  const TFileSource& FFiles;

  QTabWidget* PageControl1 = nullptr;
  QPlainTextEdit* MemoWzl = nullptr;
  QTableWidget* StringGridPak = nullptr;
  QPlainTextEdit* MemoResources_Data = nullptr;
  QPlainTextEdit* MemoResources_Map = nullptr;
  QPlainTextEdit* MemoResources_Wav = nullptr;
  QPushButton* ButtonLoadFile = nullptr;
  QPushButton* ButtonSave = nullptr;
};
