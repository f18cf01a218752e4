// The pages that show what the program observed: the data connections with their idle close
// and traffic counters ("PAGE CONNECTIONS"), the cell history with assignment of a listed
// location to a place, and the event log with its detail and options dialogs.
//
// Threads: user-interface thread only. The lists follow their sources through listeners that
// are called on other threads; those only queue a refresh onto the user-interface thread.
#pragma once

#include <QPointer>

#include <cstdint>

#include "app/EventLog.h"
#include "location/CellHistory.h"
#include "managers/ConnectionsMgr.h"
#include "ui/QueuedOnce.h"
#include "ui/SettingsSheet.h"
#include "ui/SettingsUi.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTreeWidget;

class CPageConnections : public CSettingsPage, public IConnectionsStatisticsObserver {
  Q_OBJECT

 public:
  static constexpr int kDefaultIdleSeconds = 600;

  CPageConnections();
  ~CPageConnections() override;
  // After each idle check (user-interface thread): the counters are read again.
  void RefreshStatistics() override;
  void FillMenu(QMenu* menu) override;
  void Save(SettingsSaveOutcome* outcome) override;
  void Shown() override;
  // Reads the entries and counters again.
  void Refresh();
  void ShowCounters();
  // Switches a column of the selected entry (1 enabled, 2 connected, 3 always on).
  void Toggle(int column);

  QTreeWidget* List() const { return list_; }
  QCheckBox* Idle() const { return idle_; }
  QSpinBox* Seconds() const { return seconds_; }
  QComboBox* Preferred() const { return preferred_; }

 private:
  QTreeWidget* list_;
  QCheckBox* idle_;
  QSpinBox* seconds_;
  QComboBox* preferred_;
  QLabel* counters_;
};

class CPageCellHistory : public CSettingsPage, public ICellHistoryListener {
  Q_OBJECT

 public:
  CPageCellHistory();
  ~CPageCellHistory() override;
  void FillMenu(QMenu* menu) override;
  void Shown() override;
  void OnHistoryChanged(int count) override;
  // Assigns the selected row's location (by the current location mode) to a place chosen in
  // the place list, or removes it from its place.
  void AssignSelected();
  void UnassignSelected();
  void Refresh();

  QTreeWidget* List() const { return list_; }
  QComboBox* Places() const { return places_; }

 private:
  std::int32_t SelectedCode() const;

  QTreeWidget* list_;
  QComboBox* places_;
  CQueuedOnce refresh_{this, [this] { Refresh(); }};
};

class CPageEventLog : public CSettingsPage, public IEventLogListener {
  Q_OBJECT

 public:
  CPageEventLog();
  ~CPageEventLog() override;
  void FillMenu(QMenu* menu) override;
  void Shown() override;
  void OnEventLogChanged(int count) override;
  void Refresh();
  void Clear();
  void AddTest();
  void ShowOptions();
  void ShowDetail();
  // Commands other parts of the program add to the page's menu (after the page's own).
  static void AddMenuCommand(const char* textId, std::function<void(QWidget* page)> command);

  QTreeWidget* List() const { return list_; }

 private:
  QTreeWidget* list_;
  CQueuedOnce refresh_{this, [this] { Refresh(); }};
};

// The detail of one event-log entry, with previous and next.
class CDlgEventLogDetail : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  CDlgEventLogDetail(QWidget* parent, int index);
  void Show(int index);
  int Index() const { return index_; }

 private:
  int index_ = 0;
  QLabel* time_;
  QLabel* severity_;
  QLabel* summary_;
  QLabel* description_;
  QPushButton* previous_;
  QPushButton* next_;
};

// "DIALOG_EVENT_LOG_OPTIONS_TITLE": the event log's settings, written when saved; they apply
// at the next start ("RESTART TO APPLY").
class CDlgEventLogOptions : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  explicit CDlgEventLogOptions(QWidget* parent);
  // Writes the settings and tells the user they apply at the next start.
  void Store();

  QSpinBox* Items() const { return items_; }
  QCheckBox* ToFile() const { return toFile_; }
  QLineEdit* Path() const { return path_; }
  QSpinBox* MaxSize() const { return maxSize_; }

 protected:
  // A log written to a file needs its path ("PLEASE FILL DATA").
  bool Validate() override;

 private:
  QSpinBox* items_;
  QCheckBox* toFile_;
  QLineEdit* path_;
  QSpinBox* maxSize_;
};
