// The settings sheet: a modal window over the whole screen with seven pages as tabs (places and
// locations, places with their time frames and actions, data connections, cell history, event
// log and two pages of options) and a soft-key bar: "SAVE" on the left soft key, the current
// page's "MENU_MENU" menu on the right one, "CANCEL" on escape.
//
// Two kinds of change are made here. Records (places, locations, time frames, actions) are
// stored through the tables as soon as their own dialog is saved, and the schedule engine
// evaluates the location again at once. Settings are edited on the pages and written to the
// settings store only when the sheet is saved; cancelling the sheet leaves every setting as it
// was. Saving applies what the running program can apply at once (refresh interval, location
// mode, notification icon) and says "RESTART TO APPLY" for a new language.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class QMenu;
class QPushButton;
class QTabWidget;
class QVBoxLayout;

// What saving the pages changed that the program must follow.
struct SettingsSaveOutcome {
  bool restartToApply = false;
  bool trayIconChanged = false;
};

// One page of the sheet: a titled, vertically scrolling column.
class CSettingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit CSettingsPage(const char* titleId);
  const QString& Title() const { return title_; }
  // The page's own entries of the sheet's menu (the sheet adds save and cancel).
  virtual void FillMenu(QMenu* /*menu*/) {}
  // Writes the page's settings to the settings store.
  virtual void Save(SettingsSaveOutcome* /*outcome*/) {}
  // The page became the current one: shows the data as it is now.
  virtual void Shown() {}

 protected:
  // Where the page's controls go.
  QVBoxLayout* Column() const { return column_; }

 private:
  QString title_;
  QVBoxLayout* column_;
};

class CSettingsSheet : public QDialog {
  Q_OBJECT

 public:
  // Page indexes, in tab order.
  enum Page {
    kPageMain,
    kPageProfiles,
    kPageConnections,
    kPageCellHistory,
    kPageEventLog,
    kPageOptions1,
    kPageOptions2,
    kPageCount
  };

  // `applyTrayIcon` is called after a save that changed the "tray_icon" setting.
  explicit CSettingsSheet(std::function<void()> applyTrayIcon = {});
  ~CSettingsSheet() override;

  // Opens the sheet modally over `owner` (the main window), which is disabled until it closes.
  // The sheet opens on `startPage`; `prepare` runs on it before it is shown (to select a record).
  static void Open(QWidget* owner, std::function<void()> applyTrayIcon, int startPage = kPageMain,
                   const std::function<void(CSettingsSheet&)>& prepare = {});

  CSettingsPage* GetPage(int index) const { return pages_[static_cast<std::size_t>(index)]; }
  QTabWidget* Tabs() const { return tabs_; }
  // Saves every page and closes the sheet.
  void SaveAndClose();
  // The outcome of the last save.
  const SettingsSaveOutcome& Outcome() const { return outcome_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void RebuildMenu();

  std::function<void()> applyTrayIcon_;
  QTabWidget* tabs_;
  QMenu* menu_;
  QPushButton* menuButton_ = nullptr;
  std::vector<CSettingsPage*> pages_;
  SettingsSaveOutcome outcome_;
  int screenSubscription_ = 0;
};
