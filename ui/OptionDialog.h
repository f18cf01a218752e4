// The pop-ups of one-tap switching: a modal dialog of skinned 60 x 65 image buttons, the first
// of them cancel, from which the user picks one option (COptionDialog), and the same dialog with
// the choices of a time limit (COptionDialogTimeLimit), whose custom choice asks for hours and
// minutes (CDialogCustomTime).
//
// Each button is skinned by its own skin id from the skin's layout element (only what the
// element gives; the dialog places the buttons itself). A button for a feature's state is drawn
// with that feature button's image for the state; a button without an image shows its caption
// in the tile. Every button is named by its caption on the accessibility bus.
//
// While a dialog is open its owner (the main window) is disabled; the phone's keys move the
// focus (arrows, tab), enter or select presses the focused button, escape cancels.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "ui/ButtonOwnDrawImage.h"

class CSkin;
class QSpinBox;

class COptionDialog : public QDialog {
  Q_OBJECT

 public:
  // The answer of a cancelled dialog, and the cancel button's command id.
  static constexpr int kCancel = 109;

  // `title` is a text id; `skin` gives the buttons' skin elements (may be null).
  COptionDialog(QWidget* owner, CSkin* skin, const char* title);
  ~COptionDialog() override;

  // Adds a button that answers `id`: skinned by `skinId`, captioned with the translation of
  // `captionId`, drawn with `image` when it has a bitmap.
  void AddOption(int id, const std::string& skinId, const char* captionId,
                 CButtonOwnDrawImage::Choice image = {});
  // The same with a caption that is already translated.
  void AddOptionText(int id, const std::string& skinId, const QString& caption,
                     CButtonOwnDrawImage::Choice image = {});

  // Shows the dialog modally, the owner disabled meanwhile; the id of the pressed button, or
  // kCancel.
  int ShowModal();

  // The buttons in order, cancel first (for tests).
  const std::vector<CButtonOwnDrawImage*>& Buttons() const;

 protected:
  // Lays the buttons out in rows and centres the dialog on the owner's screen.
  void Layout();
  void keyPressEvent(QKeyEvent* event) override;
  // The owner's window changing size (the phone turned) lays the dialog out again.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Panel;
  Panel* panel_;
  CSkin* skin_;
};

// The time-limit choices: no limit, 1, 5, 10, 30, 60 and 120 minutes, and a custom duration.
class COptionDialogTimeLimit : public COptionDialog {
  Q_OBJECT

 public:
  // The answer for "no limit" (ShowModal), as the callers compare it.
  static constexpr int kNoLimit = 999;

  COptionDialogTimeLimit(QWidget* owner, CSkin* skin);

  // kCancel, kNoLimit or a command id of a limit; Minutes() then holds the minutes chosen
  // (0 for no limit). The custom choice opens CDialogCustomTime, whose cancel cancels.
  int ShowModal();
  int Minutes() const { return minutes_; }

  // The text id of the caption of a limit of `minutes` (0: no limit).
  static const char* CaptionId(int minutes);

 private:
  int minutes_ = 0;
};

// Hours and minutes of a custom time limit (at least one minute, less than a day).
class CDialogCustomTime : public QDialog {
  Q_OBJECT

 public:
  explicit CDialogCustomTime(QWidget* owner);
  // The minutes entered, or 0 when cancelled.
  int Ask();
  void SetTime(int hours, int minutes);

 private:
  QSpinBox* hours_;
  QSpinBox* minutes_;
};

// Opens `dialog` modally over `owner` with the owner disabled until it closes (the phone's
// window list shows it disabled); returns the dialog's result.
int ExecDisablingOwner(QWidget* owner, QDialog* dialog);
