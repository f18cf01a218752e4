#include "ui/SettingsUi.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

#include <QVBoxLayout>
#include <algorithm>

#include "app/Texts.h"
#include "data/StrPlace.h"
#include "location/ScheduleEngine.h"
#include "platform/HardwareEvents.h"
#include "platform/Mosutil.h"
#include "platform/Screen.h"

namespace settingsui {

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

QString Tr(const char* id) {
  return QString::fromStdString(Text(id));
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string S(const QString& text) {
  return text.toStdString();
}

CFormColumn::CFormColumn() {
  setSpacing(3);
}

CFormColumn* NewForm() {
  auto* form = new CFormColumn;
  form->setContentsMargins(4, 4, 4, 4);
  return form;
}

namespace {
constexpr const char* kCaptionRow = "captionRow";
}  // namespace

void AddRow(CFormColumn* form, const QString& caption, QWidget* field) {
  // Caption and field stand in a column of their own that takes the whole row: the caption then
  // wraps at the screen's width and the row is as tall as the wrapped caption.
  auto* row = new QWidget;
  row->setObjectName(kCaptionRow);
  auto* column = new QVBoxLayout(row);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(1);
  auto* label = new QLabel(caption);
  label->setWordWrap(true);
  label->setBuddy(field);
  field->setAccessibleName(caption);
  column->addWidget(label);
  column->addWidget(field);
  form->addRow(row);
}

QLabel* CaptionOf(QWidget* field) {
  if (QWidget* parent = field->parentWidget()) {
    for (QLabel* label : parent->findChildren<QLabel*>()) {
      if (label->buddy() == field)
        return label;
    }
  }
  return nullptr;
}

void SetRowVisible(CFormColumn* form, QWidget* field, bool visible) {
  QWidget* parent = field->parentWidget();
  form->setRowVisible(parent && parent->objectName() == kCaptionRow ? parent : field, visible);
}

namespace {

// A vertical scroller whose content always has the viewport's width and the height its layout
// needs at that width, so captions wrap inside the screen and never overlap their neighbours.
class CColumnScroll : public QScrollArea {
 public:
  explicit CColumnScroll(QWidget* content) {
    setWidget(content);
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A scroll bar that came and went would change the width the captions wrap at.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    content->installEventFilter(this);
    // Tab goes straight to the first control; the scroller follows the focus.
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    Fit();
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == widget() && event->type() == QEvent::LayoutRequest)
      QMetaObject::invokeMethod(
          this, [this] { Fit(); }, Qt::QueuedConnection);
    return QScrollArea::eventFilter(watched, event);
  }

 private:
  void Fit() {
    QWidget* content = widget();
    QLayout* layout = content ? content->layout() : nullptr;
    if (!layout)
      return;
    const int width = viewport()->width();
    layout->activate();
    int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                             : layout->totalSizeHint().height();
    height = std::max(height, layout->totalMinimumSize().height());
    // No taller than it needs: rows keep their heights and the space below stays empty.
    content->resize(width, height);
  }
};

}  // namespace

QScrollArea* Scrolled(QWidget* content) {
  return new CColumnScroll(content);
}

namespace {

// A caption that toggles its check box when tapped.
class CCheckCaption : public QLabel {
 public:
  CCheckCaption(const QString& text, QCheckBox* box) : QLabel(text), box_(box) {
    setWordWrap(true);
    setBuddy(box);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (box_->isEnabled() && rect().contains(event->position().toPoint()))
      box_->toggle();
    QLabel::mouseReleaseEvent(event);
  }

 private:
  QCheckBox* box_;
};

}  // namespace

QWidget* CheckRow(QCheckBox* box) {
  QString caption = box->text();
  box->setText(QString());
  box->setAccessibleName(caption);
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  layout->addWidget(box, 0, Qt::AlignTop);
  layout->addWidget(new CCheckCaption(caption, box), 1, Qt::AlignTop);
  return row;
}

QPushButton* Button(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setAccessibleName(caption);
  button->setAutoDefault(false);
  // Buttons side by side share the width of a narrow screen whatever their captions.
  button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  button->setMinimumWidth(30);
  return button;
}

QWidget* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  for (QPushButton* button : buttons)
    layout->addWidget(button);
  return row;
}

QLabel* Caption(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  label->setStyleSheet("font-weight: bold");
  return label;
}

void SetPlaceChoices(QComboBox* combo, const std::vector<CStrPlace>& places, std::int32_t select) {
  QSignalBlocker block(combo);
  combo->clear();
  for (const CStrPlace& place : places)
    combo->addItem(Q(place.GetName()), place.GetId());
  int index = combo->findData(select);
  combo->setCurrentIndex(index >= 0 ? index : (combo->count() > 0 ? 0 : -1));
}

void Later(QObject* context, std::function<void()> work) {
  QTimer::singleShot(0, context, std::move(work));
}

void Message(QWidget*, const char* id) {
  platform::TextBox(0, Text(id));
}

bool Ask(QWidget* owner, const char* id) {
  return AskText(owner, Text(id));
}

bool AskText(QWidget*, const std::string& text) {
  return platform::QuestionBox(0, text) != 0;
}

void DataChanged() {
  if (CScheduleEngine* engine = CScheduleEngine::GetInstance())
    engine->ChangeInDB();
}

QWidget* SoftKeyBar(QWidget* parent, const QString& left, const QString& right, QMenu* menu,
                    QPushButton** leftButton, QPushButton** menuButton, QPushButton** rightButton) {
  auto* bar = new QWidget(parent);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(2);
  *leftButton = Button(left, bar);
  *menuButton = Button(Tr("MENU_MENU"), bar);
  *rightButton = Button(right, bar);
  QPushButton* button = *menuButton;
  QObject::connect(button, &QPushButton::clicked, button,
                   [menu, button] { ShowSoftMenu(menu, button); });
  row->addWidget(*leftButton);
  row->addWidget(*menuButton);
  row->addWidget(*rightButton);
  return bar;
}

void ShowSoftMenu(QMenu* menu, QWidget* button) {
  // Over the soft-key bar, inside the window: the bar is at the bottom of the screen.
  QSize size = menu->sizeHint();
  QWidget* window = button->window();
  QPoint origin = window->mapToGlobal(QPoint(0, 0));
  QPoint at = button->mapToGlobal(QPoint(0, 0));
  int x = std::clamp(at.x(), origin.x(), origin.x() + std::max(0, window->width() - size.width()));
  int y = std::max(origin.y(), at.y() - size.height());
  menu->popup(QPoint(x, y));
}

void FitToScreen(QWidget* window) {
  // Lists of long names must not widen the window past a narrow screen.
  for (QComboBox* combo : window->findChildren<QComboBox*>()) {
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(8);
    // A list reads its current choice as its name; its caption goes with it as description.
    if (combo->accessibleDescription().isEmpty())
      combo->setAccessibleDescription(combo->accessibleName());
  }
  platform::ScreenSize screen = platform::GetScreenSize();
  if (QGuiApplication::platformName() == "offscreen") {
    // On the phone's own display the window covers the screen from its corner, as the main
    // window does.
    window->setWindowFlag(Qt::FramelessWindowHint);
    window->setGeometry(0, 0, screen.width, screen.height);
  } else {
    window->resize(screen.width, screen.height);
  }
}

CDlgBase::CDlgBase(QWidget* parent, const char* titleId) : QDialog(parent) {
  setWindowTitle(Tr(titleId));
  setAccessibleName(windowTitle());
  auto* content = new QWidget;
  form_ = NewForm();
  content->setLayout(form_);
  menu_ = new QMenu(this);
  menu_->setAccessibleName(Tr("MENU_MENU"));
  QPushButton* cancel = nullptr;
  QWidget* bar = SoftKeyBar(this, Tr("SAVE"), Tr("CANCEL"), menu_, &save_, &menuButton_, &cancel);
  QPushButton* save = save_;
  auto* title = new QLabel(windowTitle());
  title->setStyleSheet("font-weight: bold");
  title->setContentsMargins(4, 2, 4, 2);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(title);
  column->addWidget(Scrolled(content), 1);
  column->addWidget(bar);
  connect(save, &QPushButton::clicked, this, [this] { Later(this, [this] { TrySave(); }); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  saveAction_ = menu_->addAction(Tr("SAVE"), this, [this] { Later(this, [this] { TrySave(); }); });
  menu_->addAction(Tr("CANCEL"), this, &QDialog::reject);
}

void CDlgBase::SetViewOnly() {
  save_->hide();
  saveAction_->setVisible(false);
}

bool PressFocusedButton(QWidget* window) {
  if (auto* button = qobject_cast<QPushButton*>(window->focusWidget())) {
    if (button->isEnabled()) {
      button->click();
      return true;
    }
  }
  return false;
}

void CDlgBase::TrySave() {
  if (Validate())
    accept();
}

int CDlgBase::Run() {
  FitToScreen(this);
  // The phone turns while the dialog is open: the dialog takes the new screen.
  int subscription = platform::SubscribeHardwareEvent(
      platform::kScreenEvent, [this](const std::string&, const std::string&) {
        QMetaObject::invokeMethod(
            this, [this] { FitToScreen(this); }, Qt::QueuedConnection);
      });
  int result = exec();
  platform::UnsubscribeHardwareEvent(subscription);
  return result;
}

void CDlgBase::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Context1:
      if (save_->isVisible())
        TrySave();
      return;
    case Qt::Key_Context2:
      ShowSoftMenu(menu_, menuButton_);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter on a button presses it; elsewhere it saves.
      if (!PressFocusedButton(this) && save_->isVisible())
        TrySave();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace settingsui
