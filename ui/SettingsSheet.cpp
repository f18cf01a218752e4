#include "ui/SettingsSheet.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/Trace.h"
#include "platform/HardwareEvents.h"
#include "platform/Mosutil.h"
#include "platform/Screen.h"
#include "ui/PageLists.h"
#include "ui/PageMain.h"
#include "ui/PageOptions.h"
#include "ui/PageProfiles.h"
#include "ui/SettingsUi.h"

using namespace settingsui;

CSettingsPage::CSettingsPage(const char* titleId) : title_(Tr(titleId)) {
  setAccessibleName(title_);
  auto* content = new QWidget;
  column_ = new QVBoxLayout(content);
  column_->setContentsMargins(4, 4, 4, 4);
  column_->setSpacing(3);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(Scrolled(content));
}

CSettingsSheet::CSettingsSheet(std::function<void()> applyTrayIcon)
    : applyTrayIcon_(std::move(applyTrayIcon)) {
  setWindowTitle(Tr("PAGE MAIN"));
  setAccessibleName(windowTitle());
  setWindowModality(Qt::ApplicationModal);
  tabs_ = new QTabWidget;
  tabs_->setAccessibleName(windowTitle());
  tabs_->setUsesScrollButtons(true);
  tabs_->setDocumentMode(true);
  tabs_->tabBar()->setExpanding(false);
  pages_ = {new CPageMain,     new CPageProfiles, new CPageConnections, new CPageCellHistory,
            new CPageEventLog, new CPageOptions1, new CPageOptions2};
  for (CSettingsPage* page : pages_)
    tabs_->addTab(page, page->Title());
  menu_ = new QMenu(this);
  menu_->setAccessibleName(Tr("MENU_MENU"));
  QPushButton* save = nullptr;
  QPushButton* cancel = nullptr;
  QWidget* bar = SoftKeyBar(this, Tr("SAVE"), Tr("CANCEL"), menu_, &save, &menuButton_, &cancel);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(tabs_, 1);
  column->addWidget(bar);
  connect(save, &QPushButton::clicked, this, [this] { Later(this, [this] { SaveAndClose(); }); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index >= 0 && index < static_cast<int>(pages_.size()))
      pages_[static_cast<std::size_t>(index)]->Shown();
    RebuildMenu();
  });
  RebuildMenu();
  pages_.front()->Shown();
  FitToScreen(this);
  // Keys alone: left and right go from page to page, tab walks into the page.
  tabs_->tabBar()->setFocus();
  // The phone turns: the sheet takes the new screen.
  screenSubscription_ = platform::SubscribeHardwareEvent(
      platform::kScreenEvent, [this](const std::string&, const std::string&) {
        QMetaObject::invokeMethod(
            this, [this] { FitToScreen(this); }, Qt::QueuedConnection);
      });
}

CSettingsSheet::~CSettingsSheet() {
  if (screenSubscription_)
    platform::UnsubscribeHardwareEvent(screenSubscription_);
}

void CSettingsSheet::RebuildMenu() {
  menu_->clear();
  if (auto* page = qobject_cast<CSettingsPage*>(tabs_->currentWidget()))
    page->FillMenu(menu_);
  if (!menu_->isEmpty())
    menu_->addSeparator();
  menu_->addAction(Tr("SAVE"), this, [this] { Later(this, [this] { SaveAndClose(); }); });
  menu_->addAction(Tr("CANCEL"), this, &QDialog::reject);
}

void CSettingsSheet::SaveAndClose() {
  outcome_ = {};
  for (CSettingsPage* page : pages_)
    page->Save(&outcome_);
  if (outcome_.trayIconChanged && applyTrayIcon_)
    applyTrayIcon_();
  if (outcome_.restartToApply)
    Message(this, "RESTART TO APPLY");
  accept();
}

void CSettingsSheet::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Context1:
      SaveAndClose();
      return;
    case Qt::Key_Context2:
      ShowSoftMenu(menu_, menuButton_);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (PressFocusedButton(this))
        return;
      QDialog::keyPressEvent(event);
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CSettingsSheet::Open(QWidget* owner, std::function<void()> applyTrayIcon, int startPage,
                          const std::function<void(CSettingsSheet&)>& prepare) {
  Trace(TRACE_TRACE, "CSettingsSheet::Open(%d)", startPage);
  // The sheet is a window of its own (not a child of the main window), so disabling the main
  // window leaves the sheet enabled.
  CSettingsSheet sheet(std::move(applyTrayIcon));
  if (startPage > kPageMain && startPage < kPageCount)
    sheet.tabs_->setCurrentIndex(startPage);
  if (prepare)
    prepare(sheet);
  if (owner)
    owner->setEnabled(false);
  sheet.exec();
  if (owner) {
    owner->setEnabled(true);
    owner->activateWindow();
  }
}
