// The record dialogs of the settings sheet: a location code, a place, a time frame, the days of
// the week of an action and an action with the fields of its kind. Each edits a copy of its
// record; the caller stores the result through the tables when the dialog is saved.
//
// Threads: user-interface thread only.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "data/StrAction.h"
#include "data/StrPeriod.h"
#include "data/StrPlace.h"
#include "ui/SettingsUi.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// "DIALOG_CHOOSE_FILE_TITLE": a file of the phone, chosen folder by folder. Folders come first
// ("\\.." goes up); only files whose names end in `suffix` are listed (all when empty).
class CDlgChooseFile : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  CDlgChooseFile(QWidget* parent, const std::string& start, const std::string& suffix = {});
  // The chosen file as a device path ("\\Windows\\ring.wav"); empty when none.
  std::string GetFile() const;
  // Shows the folder (a device path).
  void Open(const std::string& folder);
  QListWidget* Entries() const { return list_; }
  const std::string& Folder() const { return folder_; }

 protected:
  // A file must be chosen: "PLEASE FILL DATA".
  bool Validate() override;

 private:
  // A folder is entered, a file chosen and saved.
  void Activate();

  std::string folder_;
  std::string suffix_;
  QLabel* where_;
  QListWidget* list_;
};

// A line for a file path with a button that opens the file chooser.
QWidget* FileRow(QLineEdit* field, const std::string& suffix = {});

// "DIALOG_ADD_LOCATION_TITLE": the code of a cell (cell mode) or of a location area.
class CDlgAddLocation : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  CDlgAddLocation(QWidget* parent, bool cellMode);
  std::int32_t GetCode() const;
  QLineEdit* CodeField() const { return code_; }

 protected:
  // An empty code: "ENTER LOCATION".
  bool Validate() override;

 private:
  QLineEdit* code_;
};

// "DIALOG_ADD_PLACE_TITLE": name, description and icon of a place.
class CDlgPlace : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  CDlgPlace(QWidget* parent, const CStrPlace& place);
  // The place with the fields as entered.
  CStrPlace GetPlace() const;
  QLineEdit* NameField() const { return name_; }
  QLineEdit* DescriptionField() const { return desc_; }
  QComboBox* IconField() const { return icon_; }
  // The icon files the skin offers ("place_*.png"), by name.
  static std::vector<std::string> ListIcons();

 protected:
  // A place needs a name: "PLEASE FILL DATA".
  bool Validate() override;

 private:
  CStrPlace place_;
  QLineEdit* name_;
  QLineEdit* desc_;
  QComboBox* icon_;
};

// "DIALOG_TIME_FRAME_TITLE": name, start and end ("HH:mm") of a time frame.
class CDlgTimeFrame : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  CDlgTimeFrame(QWidget* parent, const CStrPeriod& period);
  CStrPeriod GetPeriod() const;
  QLineEdit* NameField() const { return name_; }
  QLineEdit* BeginField() const { return begin_; }
  QLineEdit* EndField() const { return end_; }
  // "H:mm" or "HH:mm" from 00:00 to 23:59; false for anything else.
  static bool ParseTime(const QString& text, int* hour, int* minute);

 protected:
  // A name and two times are needed ("PLEASE FILL DATA"); an end before the start is refused
  // unless the end is midnight ("TIME FRAME END BEFORE START").
  bool Validate() override;

 private:
  CStrPeriod period_;
  QLineEdit* name_;
  QLineEdit* begin_;
  QLineEdit* end_;
};

// Seven day check boxes, Monday first, and the enabled flag, read from and written to an
// action's weekday mask.
class CWeekBoxes : public QWidget {
  Q_OBJECT

 public:
  // `withEnabled`: also a check box for the action's enabled flag.
  CWeekBoxes(QWidget* parent, bool withEnabled);
  void SetMask(std::int32_t mask);
  // The mask for the boxes; an action without an enabled box keeps `enabledWhenHidden`.
  std::int32_t GetMask(bool enabledWhenHidden = true) const;
  // The box of a day of week (0 = Sunday ... 6 = Saturday).
  QCheckBox* Day(int dayOfWeek) const { return days_[static_cast<std::size_t>(dayOfWeek)]; }
  QCheckBox* Enabled() const { return enabled_; }

 private:
  std::array<QCheckBox*, 7> days_{};
  QCheckBox* enabled_ = nullptr;
};

// "DIALOG_WEEK_TITLE": the days of the week of an action.
class CDlgWeek : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  CDlgWeek(QWidget* parent, std::int32_t mask);
  std::int32_t GetMask() const;
  CWeekBoxes* Boxes() const { return boxes_; }

 private:
  CWeekBoxes* boxes_;
  bool enabled_;
};

// An action of a time frame: its kind (a manager's switch or a built-in action), direction,
// enabled flag, weekdays and the fields its kind needs.
class CDlgAction : public settingsui::CDlgBase {
  Q_OBJECT

 public:
  // One kind of action, and which fields it takes.
  enum Field : unsigned {
    kStatus = 1,
    kVolume = 2,
    kBacklight = 4,
    kNumber = 8,
    kTo = 16,
    kSubject = 32,
    kText = 64,
    kFile = 128,
    kRing = 256,
    kLed = 512,
  };
  struct Kind {
    int mgrId;
    const char* nameId;
    unsigned fields;
    // Status values and their names, for kinds with kStatus.
    std::vector<std::pair<int, const char*>> statuses;
  };
  static const std::vector<Kind>& Kinds();
  static const Kind* FindKind(int mgrId);
  // The ring types and the ring script each stores.
  static const std::vector<std::pair<const char*, const char*>>& RingTypes();
  // One line naming what an action does, for lists.
  static std::string Describe(const CStrAction& action);

  CDlgAction(QWidget* parent, const CStrAction& action);
  CStrAction GetAction() const;

  QComboBox* KindField() const { return kind_; }
  QComboBox* DirectionField() const { return direction_; }
  QComboBox* StatusField() const { return status_; }
  QSpinBox* VolumeField() const { return volume_; }
  QSpinBox* BatteryLevelField() const { return battery_; }
  QSpinBox* AcLevelField() const { return ac_; }
  QLineEdit* NumberField() const { return number_; }
  QLineEdit* ToField() const { return to_; }
  QLineEdit* SubjectField() const { return subject_; }
  QPlainTextEdit* TextField() const { return text_; }
  QLineEdit* FileField() const { return file_; }
  QComboBox* RingTypeField() const { return ringType_; }
  QSpinBox* RingVolumeField() const { return ringVolume_; }
  QCheckBox* LedField() const { return led_; }
  CWeekBoxes* Week() const { return week_; }

 protected:
  // The fields a kind needs to do anything: the forwarding number when forwarding is switched
  // on, a recipient (and the text of an SMS), a file. Missing: "PLEASE FILL DATA".
  bool Validate() override;

 private:
  const Kind& CurrentKind() const;
  // Shows the fields of the chosen kind and fills its statuses.
  void KindChanged();

  CStrAction action_;
  QComboBox* kind_;
  QComboBox* direction_;
  QComboBox* status_;
  QSpinBox* volume_;
  QSpinBox* battery_;
  QSpinBox* ac_;
  QLineEdit* number_;
  QLineEdit* to_;
  QLineEdit* subject_;
  QPlainTextEdit* text_;
  QLineEdit* file_;
  QComboBox* ringType_;
  QSpinBox* ringVolume_;
  QCheckBox* led_;
  CWeekBoxes* week_;
  std::vector<std::pair<unsigned, QWidget*>> rows_;  // field flag -> its field
};
