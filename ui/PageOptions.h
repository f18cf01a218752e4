// "PAGE OPTIONS1" and "PAGE OPTIONS2": the program's settings. The pages show the stored values
// and write them when the sheet is saved.
//
// Threads: user-interface thread only.
#pragma once

#include <string>

#include "ui/SettingsSheet.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QSpinBox;

class CPageOptions1 : public CSettingsPage {
  Q_OBJECT

 public:
  CPageOptions1();
  // Writes every setting; the refresh settings reach the cell tracker at once and a change of
  // the notification icon is reported for the main window. A new theme applies at the next start.
  void Save(SettingsSaveOutcome* outcome) override;
  void Shown() override;

  QSpinBox* Refresh() const { return refresh_; }
  QCheckBox* AwakeToRefresh() const { return awake_; }
  QRadioButton* Automatic() const { return automatic_; }
  QRadioButton* Manual() const { return manual_; }
  QCheckBox* Backlight() const { return backlight_; }
  QCheckBox* TrayIcon() const { return tray_; }
  QComboBox* Mail() const { return mail_; }
  QComboBox* Theme() const { return theme_; }
  QLabel* Events() const { return events_; }

 private:
  QSpinBox* refresh_;
  QCheckBox* awake_;
  QRadioButton* automatic_;
  QRadioButton* manual_;
  QCheckBox* backlight_;
  QCheckBox* tray_;
  QComboBox* mail_;
  QComboBox* theme_;
  QLabel* events_;
};

class CPageOptions2 : public CSettingsPage {
  Q_OBJECT

 public:
  // The hold, in seconds, before a change of place is believed (0: none).
  static constexpr const char* kGraceKey = "location_grace_seconds";
  static constexpr int kMaxGraceSeconds = 3600;

  CPageOptions2();
  // Writes every setting; a new language or cell-history size applies at the next start.
  void Save(SettingsSaveOutcome* outcome) override;

  QComboBox* Language() const { return language_; }
  QCheckBox* IntelligentLac() const { return lac_; }
  QCheckBox* AllowClose() const { return close_; }
  QCheckBox* IntelligentBt() const { return bt_; }
  QCheckBox* AwakeToExecute() const { return awake_; }
  QSpinBox* CellsOnScreen() const { return cells_; }
  QSpinBox* Grace() const { return grace_; }

 private:
  QComboBox* language_;
  QString shownTag_;  // the language the page opened with
  QCheckBox* lac_;
  QCheckBox* close_;
  QCheckBox* bt_;
  QCheckBox* awake_;
  QSpinBox* cells_;
  QSpinBox* grace_;
};
