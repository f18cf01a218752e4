// What the settings sheet, its pages and the record dialogs share: translated captions, a
// caption-and-field pair that names the field for assistive technology, the soft-key bar and the
// base of every small modal dialog.
//
// Small screens: the phone's screen may be 240 wide, so a field always stands under its caption
// and every page and dialog scrolls vertically instead of growing past the screen.
//
// Threads: user-interface thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QVBoxLayout>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class CStrPlace;
class QAction;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace settingsui {

// A column of rows, each taking the whole width (a caption stands above its field). Its height
// for a width follows wrapped captions, which a form layout does not do for whole-width rows.
class CFormColumn : public QVBoxLayout {
 public:
  CFormColumn();
  void addRow(QWidget* row) { addWidget(row); }
  void setRowVisible(QWidget* row, bool visible) { row->setVisible(visible); }
};

// The translation of a text id.
std::string Text(const char* id);
QString Tr(const char* id);
QString Q(const std::string& text);
std::string S(const QString& text);

// Adds `field` under a caption that is its accessible name.
void AddRow(CFormColumn* form, const QString& caption, QWidget* field);
// The caption AddRow gave a field; null when none.
QLabel* CaptionOf(QWidget* field);
// Shows or hides a field with its caption.
void SetRowVisible(CFormColumn* form, QWidget* field, bool visible);
// A form that always puts the field under its caption.
CFormColumn* NewForm();
// A widget that scrolls `content` vertically inside `parent`'s width.
QScrollArea* Scrolled(QWidget* content);
// A row for a check box whose caption wraps on a narrow screen: the box's text moves to a label
// beside it (tapping the label toggles the box) and stays the box's accessible name.
QWidget* CheckRow(QCheckBox* box);
// A push button with a translated caption (its accessible name too).
QPushButton* Button(const QString& caption, QWidget* parent = nullptr);
// A row of `buttons` side by side, sharing the width, for under a list or a field.
QWidget* ButtonRow(std::initializer_list<QPushButton*> buttons);
// A bold caption that stands above `buddy` (may be null) on a page.
QLabel* Caption(const QString& text, QWidget* buddy = nullptr);
// Makes `places` the choices of `combo` (named, with their ids as data) without signalling the
// change, and chooses the place `select`, else the first.
void SetPlaceChoices(QComboBox* combo, const std::vector<CStrPlace>& places,
                     std::int32_t select = -1);

// Runs `work` from the event loop, after the current event: a tap or an accessibility action
// that opens a modal dialog answers at once instead of waiting for the dialog to close.
void Later(QObject* context, std::function<void()> work);

// Shows a message box with the text of `id` (answered as the phone's answer mode says).
void Message(QWidget* owner, const char* id);
// Asks the question of `id`; true for yes.
bool Ask(QWidget* owner, const char* id);
bool AskText(QWidget* owner, const std::string& text);

// The profile data changed: the schedule engine evaluates the current location again.
void DataChanged();

// The base of the small modal dialogs: a title, a scrolling form and a bar with "SAVE", a
// "MENU_MENU" menu and "CANCEL". The left soft key saves, the right one opens the menu, escape
// cancels. Saving asks Validate first: a dialog whose input is incomplete stays open.
class CDlgBase : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgBase(QWidget* parent, const char* titleId);

  // Validates and, when the input is complete, closes the dialog with Accepted.
  void TrySave();
  // Sized to the phone's screen; runs the dialog.
  int Run();
  CFormColumn* Form() const { return form_; }
  QMenu* Menu() const { return menu_; }
  // A dialog that only shows something: no save key, the right key closes it.
  void SetViewOnly();

 protected:
  // False (after telling the user) when the input is incomplete.
  virtual bool Validate() { return true; }
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CFormColumn* form_ = nullptr;
  QMenu* menu_ = nullptr;
  QPushButton* menuButton_ = nullptr;
  QPushButton* save_ = nullptr;
  QAction* saveAction_ = nullptr;
};

// Enter on a focused push button presses it, as on the phone; true when it did.
bool PressFocusedButton(QWidget* window);

// The soft-key bar of the sheet and the dialogs: left and right keys, and a menu button between
// them. Returns the bar; the buttons are given back through the pointers.
QWidget* SoftKeyBar(QWidget* parent, const QString& left, const QString& right, QMenu* menu,
                    QPushButton** leftButton, QPushButton** menuButton, QPushButton** rightButton);

// Opens a soft-key menu above its key, inside the window.
void ShowSoftMenu(QMenu* menu, QWidget* button);

// Sizes a top-level window to the phone's screen (frameless on the phone's own display).
void FitToScreen(QWidget* window);

}  // namespace settingsui
