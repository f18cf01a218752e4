#include "ui/SettingsUi.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "app/Texts.h"
#include "location/ScheduleEngine.h"
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

QFormLayout* NewForm() {
  auto* form = new QFormLayout;
  form->setRowWrapPolicy(QFormLayout::WrapAllRows);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setContentsMargins(4, 4, 4, 4);
  form->setVerticalSpacing(3);
  return form;
}

void AddRow(QFormLayout* form, const QString& caption, QWidget* field) {
  auto* label = new QLabel(caption);
  label->setWordWrap(true);
  label->setBuddy(field);
  field->setAccessibleName(caption);
  form->addRow(label, field);
}

QScrollArea* Scrolled(QWidget* content) {
  auto* area = new QScrollArea;
  area->setWidget(content);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return area;
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
  (*menuButton)->setMenu(menu);
  row->addWidget(*leftButton);
  row->addWidget(*menuButton);
  row->addWidget(*rightButton);
  return bar;
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
  QPushButton* save = nullptr;
  QPushButton* cancel = nullptr;
  QWidget* bar = SoftKeyBar(this, Tr("SAVE"), Tr("CANCEL"), menu_, &save, &menuButton_, &cancel);
  auto* title = new QLabel(windowTitle());
  title->setStyleSheet("font-weight: bold");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(title);
  column->addWidget(Scrolled(content), 1);
  column->addWidget(bar);
  connect(save, &QPushButton::clicked, this, [this] { Later(this, [this] { TrySave(); }); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  menu_->addAction(Tr("SAVE"), this, [this] { Later(this, [this] { TrySave(); }); });
  menu_->addAction(Tr("CANCEL"), this, &QDialog::reject);
}

void CDlgBase::TrySave() {
  if (Validate())
    accept();
}

int CDlgBase::Run() {
  FitToScreen(this);
  return exec();
}

void CDlgBase::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Context1:
      TrySave();
      return;
    case Qt::Key_Context2:
      menuButton_->showMenu();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter on a button presses it; elsewhere it saves.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
        button->click();
        return;
      }
      TrySave();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace settingsui
