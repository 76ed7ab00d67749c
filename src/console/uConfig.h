// The settings dialog: title, port, bandwidth cap, client directory, resource directory name and
// micro-client password, saved to Config.ini (the bandwidth cap stays in memory), and the way to
// the file rules dialog on the directories being edited.
// Window thread only; the caller creates it, calls Open and frees it.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QSpinBox;

class TFormConfig : public QDialog {
  Q_OBJECT

 public:
  explicit TFormConfig(QWidget* parent = nullptr);

  // Fills the fields from the settings, marks them unchanged, shows the dialog modally.
  void Open();
  void ModValue();
  void uModValue();
  void EditServerPortChange();
  void EditSearchDirChange();
  void ButtonSelectDirClick();
  // Stores and saves the settings and closes, or says why not and stays open.
  void ButtonSaveClick();
  void Button7Click();

  // True while a field has changed since the dialog was filled or saved.
  bool boModValued = false;

 private:
  void FillFields();

  QLineEdit* EditTitle = nullptr;
  QSpinBox* EditServerPort = nullptr;
  QSpinBox* EditMaxBandwidth = nullptr;
  QLineEdit* EditSearchDir = nullptr;
  QPushButton* ButtonSelectDir = nullptr;
  QLineEdit* EditWClientDir = nullptr;
  QLineEdit* EditWClientPass = nullptr;
  QPushButton* ButtonSave = nullptr;
  QPushButton* Button7 = nullptr;
};
