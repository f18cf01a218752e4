// The small modal dialogs the main window's commands open: the sound level for switching the
// speaker on, the call-forwarding number, the backlight levels, the ring tone, the home screen's
// theme, About and help. Each is a plain form of translated labels with "SAVE" / "CANCEL" (About
// and help only close); every control carries its label as its accessible name.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QComboBox;
class QLineEdit;
class QSlider;
class QSpinBox;

// The base of the forms: title, frameless on the phone's own screen, and the key row.
class CSmallDialog : public QDialog {
  Q_OBJECT

 public:
  CSmallDialog(QWidget* owner, const char* title);
  // Runs the dialog with its owner disabled; true when the user saved.
  bool Ask();

 protected:
  // Adds the "SAVE" and "CANCEL" keys (`editing`) or a single close key to `layout`'s end.
  void AddKeys(class QBoxLayout* layout, bool editing);
  // Adds a labelled row to the form.
  void AddRow(class QFormLayout* form, const char* label, QWidget* field);
  // The owner's window changing size (the phone turned) places the form again.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Spans the owner window's width, in its middle.
  void Place();
};

// The volume step (1 quietest to 5 full) for switching the sound on.
class CDialogSoundLevel : public CSmallDialog {
  Q_OBJECT

 public:
  explicit CDialogSoundLevel(QWidget* owner, int level);
  int Level() const;

 private:
  QSlider* slider_;
};

// The number incoming calls are forwarded to. An empty number keeps the dialog open.
class CDialogCallForward : public CSmallDialog {
  Q_OBJECT

 public:
  CDialogCallForward(QWidget* owner, const std::string& number);
  std::string Number() const;
  QLineEdit* Field() const { return number_; }

 protected:
  void accept() override;

 private:
  QLineEdit* number_;
};

// The backlight levels on battery and on external power (0 to 10).
class CDialogBacklight : public CSmallDialog {
  Q_OBJECT

 public:
  CDialogBacklight(QWidget* owner, int battery, int external);
  int Battery() const;
  int External() const;

 private:
  QSpinBox* battery_;
  QSpinBox* external_;
};

// The ring tone: how the phone rings, the tone file (the phone's sound files) and a play key.
class CDialogRingTone : public CSmallDialog {
  Q_OBJECT

 public:
  explicit CDialogRingTone(QWidget* owner);
  // The ring script of the chosen type and the tone's device path.
  std::string Script() const;
  std::string Tone() const;
  // The tone files the phone offers: the sound files in "\Windows" and "\My Documents".
  static std::vector<std::string> ListTones();

 private:
  QComboBox* type_;
  QComboBox* tone_;
};

// The home screen's theme, from the themes the phone offers.
class CDialogTheme : public CSmallDialog {
  Q_OBJECT

 public:
  explicit CDialogTheme(QWidget* owner);
  std::string Theme() const;
  bool HasThemes() const;

 private:
  QComboBox* theme_;
};

// The program's version, build date and the translation's author.
class CDialogAbout : public CSmallDialog {
  Q_OBJECT

 public:
  explicit CDialogAbout(QWidget* owner);
  // The text shown, for the accessibility bus and tests.
  static QString AboutText();
};

// The help file of the current language: program folder + "\" + language + ".txt", or the
// translation of "no_help" when there is none.
class CDialogHelp : public CSmallDialog {
  Q_OBJECT

 public:
  explicit CDialogHelp(QWidget* owner);
  // The help text of `language`, or nothing when its file is missing or unreadable.
  static std::optional<std::string> ReadHelp(const std::string& language);
};
