// The operator console's main window: the log view, the four status panels, the 100 ms timer with
// the once-a-second traffic line, and the menu that starts, stops, unloads and reloads the service
// and opens the three dialogs. Creating the window runs the program's start sequence; destroying it
// (or closing it) releases the service and ends the loader.
// Threads: a widget of the window thread. ShowLoadLabel and the panel changes of the start
// sequence may come from the loader thread: they reach the widgets through queued calls, and a
// change never overwrites a later one.
#pragma once

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/uServiceControl.h"

class QLabel;
class QPlainTextEdit;
class QStatusBar;
class QTimer;

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Runs FormCreate; an error it raises goes to the error box and the window stays.
  explicit TMainForm(THttpServerLimits Limits = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  void FormCreate();
  // Releases the service and ends the catalogue's thread; once done, the commands do nothing.
  void FormDestroy();

  // The start sequence and service commands behind the menu (tests look at its objects).
  const TServiceControl& Control() const { return *FControl; }

  // Panel 3 text from code page 936 bytes; any thread.
  void ShowLoadLabel(const std::string& sMsg);

  void Timer1Timer();
  void MemoLogDblClick();
  void N4Click();   // settings dialog
  void N5Click();   // start the service
  void N6Click();   // stop the service
  void N8Click();   // stop, then unload the catalogue
  void N9Click();   // ask for a load pass
  void N10Click();  // exit: closes the window, as its close button does
  void N13Click();  // file rules dialog
  void S1Click();   // security filter dialog (its menu item is hidden)

  // Text of status panel 0 to 3.
  QString PanelText(int index) const;
  // Lines MemoLog holds.
  int LogLineCount() const;

  // Millisecond tick of the last traffic line; 0 until the first.
  uint64_t dwSecTime = 0;
  // The tick the traffic line is timed by; replaceable so tests need not wait.
  std::function<uint64_t()> TickCount;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateMenus();
  void CreateStatusBar();
  TServiceView MakeView();
  void SetPanels(const std::string& port, const std::string& state, const std::string& megabytes);
  void ApplyPanels(uint64_t seq, const QString& port, const QString& state, const QString& megabytes);
  void ApplyLabel(uint64_t seq, const QString& text);

  QPlainTextEdit* MemoLog = nullptr;
  QObject* FLogViewport = nullptr;  // compared only, never used after the window goes
  QStatusBar* StatusBar1 = nullptr;
  QLabel* FPanels[4] = {};
  QTimer* Timer1 = nullptr;
  std::unique_ptr<TServiceControl> FControl;
  // Every panel change takes the next number when it is made; a queued change older than the
  // one shown is dropped.
  std::atomic<uint64_t> FViewSeq{0};
  uint64_t FPanelsSeq = 0;
  uint64_t FLabelSeq = 0;
};

class TfrmPacketRule;

// The program's two long-lived windows, set by the program entry; not owned here.
extern TMainForm* MainForm;
extern TfrmPacketRule* frmPacketRule;
