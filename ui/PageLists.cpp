#include "ui/PageLists.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <exception>
#include <vector>

#include "app/RegistrySettings.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePlaces.h"
#include "managers/ConnectionsMgr.h"
#include "platform/Mosutil.h"
#include "platform/Text.h"
#include "ui/DlgRecords.h"

using namespace settingsui;

namespace {

CRegistrySettings* Settings() {
  return CRegistrySettings::Instance();
}

QTreeWidget* Table(const QString& name, std::initializer_list<const char*> columns) {
  auto* tree = new QTreeWidget;
  tree->setAccessibleName(name);
  tree->setRootIsDecorated(false);
  tree->setUniformRowHeights(true);
  tree->setAllColumnsShowFocus(true);
  QStringList headers;
  for (const char* id : columns)
    headers << Tr(id);
  tree->setHeaderLabels(headers);
  tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree->header()->setStretchLastSection(true);
  tree->setMinimumHeight(100);
  return tree;
}

QString Time(const platform::SYSTEMTIME& t) {
  if (t.wYear == 0)
    return "-";
  return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                           t.wMinute, t.wSecond);
}

QString YesNo(bool value) {
  return Tr(value ? "ON" : "OFF");
}

}  // namespace

// ---- Connections -------------------------------------------------------------------------

CPageConnections::CPageConnections() : CSettingsPage("PAGE CONNECTIONS") {
  list_ = Table(Tr("PAGE CONNECTIONS"),
                {"DIALOG_CONNECTIONS_NAME", "DIALOG_CONNECTIONS_ENABLED",
                 "DIALOG_CONNECTIONS_CONNECTED", "DIALOG_CONNECTIONS_ALWAYSON"});
  list_->setMinimumHeight(80);
  list_->setMaximumHeight(110);
  idle_ = new QCheckBox(Tr("DIALOG_CONNECTIONS_IDLE"));
  idle_->setAccessibleName(idle_->text());
  idle_->setChecked(Settings()->GetDWORD(CConnectionsMgr::kActivateIdleKey) != 0);
  seconds_ = new QSpinBox;
  seconds_->setRange(1, 86400);
  int seconds = static_cast<int>(Settings()->GetDWORD(CConnectionsMgr::kSecondsIdleKey));
  seconds_->setValue(seconds > 0 ? seconds : kDefaultIdleSeconds);
  QPushButton* byDefault = Button(Tr("DEFAULT"));
  byDefault->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  preferred_ = new QComboBox;
  counters_ = new QLabel;
  counters_->setWordWrap(true);
  counters_->setAccessibleName(Tr("TRAFFIC"));
  QPushButton* enabled = Button(Tr("DIALOG_CONNECTIONS_ENABLED"));
  QPushButton* connected = Button(Tr("DIALOG_CONNECTIONS_CONNECTED"));
  QPushButton* alwaysOn = Button(Tr("DIALOG_CONNECTIONS_ALWAYSON"));
  QWidget* toggles = ButtonRow({enabled, connected, alwaysOn});
  // Each switches its column's flag of the selected connection.
  connect(enabled, &QPushButton::clicked, this, [this] { Toggle(1); });
  connect(connected, &QPushButton::clicked, this, [this] { Toggle(2); });
  connect(alwaysOn, &QPushButton::clicked, this, [this] { Toggle(3); });
  auto* form = NewForm();
  form->addRow(list_);
  form->addRow(toggles);
  form->addRow(CheckRow(idle_));
  auto* secondsRow = new QWidget;
  auto* secondsLayout = new QHBoxLayout(secondsRow);
  secondsLayout->setContentsMargins(0, 0, 0, 0);
  secondsLayout->addWidget(seconds_, 1);
  secondsLayout->addWidget(byDefault);
  AddRow(form, Tr("DIALOG_CONNECTIONS_SECONDS"), secondsRow);
  seconds_->setAccessibleName(Tr("DIALOG_CONNECTIONS_SECONDS"));
  AddRow(form, Tr("DIALOG_CONNECTIONS_PREFERRED"), preferred_);
  form->addRow(Caption(Tr("TRAFFIC")));
  form->addRow(counters_);
  Column()->addLayout(form);
  Column()->addStretch(1);
  connect(byDefault, &QPushButton::clicked, this,
          [this] { seconds_->setValue(kDefaultIdleSeconds); });
  if (CConnectionsMgr* mgr = CConnectionsMgr::GetInstance())
    mgr->AddStatisticsObserver(this);
}

CPageConnections::~CPageConnections() {
  if (CConnectionsMgr* mgr = CConnectionsMgr::GetInstance())
    mgr->RemoveStatisticsObserver(this);
}

void CPageConnections::RefreshStatistics() {
  QMetaObject::invokeMethod(
      this, [this] { ShowCounters(); }, Qt::QueuedConnection);
}

void CPageConnections::FillMenu(QMenu* menu) {
  menu->addAction(Tr("REFRESH_MENU"), this, [this] { Refresh(); });
}

void CPageConnections::Shown() {
  Refresh();
}

void CPageConnections::Refresh() {
  CConnectionsMgr* mgr = CConnectionsMgr::GetInstance();
  int row = list_->currentIndex().row();
  list_->clear();
  QString preferred = preferred_->currentIndex() > 0 ? preferred_->currentText() : QString();
  preferred_->clear();
  preferred_->addItem(Tr("NONE"), QString());
  if (!mgr) {
    counters_->clear();
    return;
  }
  mgr->EnumEntries();
  mgr->RefreshEntryStates();
  for (const CRasConnection& entry : mgr->GetEntries()) {
    auto* item =
        new QTreeWidgetItem(list_, {Q(entry.GetName()), YesNo(entry.IsEnabled()),
                                    YesNo(entry.IsActive()), YesNo(entry.GetAlwaysOn() != 0)});
    item->setData(0, Qt::AccessibleTextRole, Q(entry.GetName()));
    preferred_->addItem(Q(entry.GetName()), Q(entry.GetName()));
    if (preferred.isEmpty() && entry.IsPreferred())
      preferred = Q(entry.GetName());
  }
  if (row >= 0 && row < list_->topLevelItemCount())
    list_->setCurrentItem(list_->topLevelItem(row));
  int index = preferred_->findData(preferred);
  preferred_->setCurrentIndex(index >= 0 ? index : 0);
  ShowCounters();
}

void CPageConnections::ShowCounters() {
  CConnectionsMgr* mgr = CConnectionsMgr::GetInstance();
  if (!mgr)
    return;
  counters_->setText(Tr("TRAFFIC") + ": " + QString::number(mgr->GetTotalTraffic()) + "\n" +
                     Tr("CONNECTIONS CHECKS") + ": " + QString::number(mgr->GetTrafficChecks()) +
                     "\n" + Tr("CONNECTIONS CLOSED") + ": " +
                     QString::number(mgr->GetIdleCloses()) + "\n" + Tr("CONNECTIONS LAST CHECK") +
                     ": " + Time(mgr->GetLastCheck()) + "\n" + Tr("CONNECTIONS LAST CLOSE") + ": " +
                     Time(mgr->GetLastClose()));
  counters_->setAccessibleDescription(counters_->text());
}

void CPageConnections::Toggle(int column) {
  CConnectionsMgr* mgr = CConnectionsMgr::GetInstance();
  int row = list_->currentIndex().row();
  if (!mgr || row < 0) {
    Message(this, "SELECT CONNECTION");
    return;
  }
  switch (column) {
    case 1:
      mgr->ToggleEnabledAt(row);
      break;
    case 2:
      mgr->ToggleConnectedAt(row);
      break;
    default:
      mgr->ToggleAlwaysOnAt(row);
      break;
  }
  Refresh();
}

void CPageConnections::Save(SettingsSaveOutcome*) {
  Settings()->SetDWORD(CConnectionsMgr::kActivateIdleKey, idle_->isChecked() ? 1 : 0);
  Settings()->SetDWORD(CConnectionsMgr::kSecondsIdleKey,
                       static_cast<platform::DWORD>(seconds_->value()));
  CConnectionsMgr* mgr = CConnectionsMgr::GetInstance();
  if (preferred_->count() == 0)
    return;  // the page was never shown: the preferred connection stays as it is
  std::string preferred = S(preferred_->currentData().toString());
  Settings()->SetString(CConnectionsMgr::kPreferredKey, preferred);
  if (mgr) {
    if (preferred.empty())
      mgr->ClearPreferred();
    else
      mgr->SetPreferredByName(preferred);
    mgr->ReevaluateIdleNotification();
  }
}

// ---- Cell history ------------------------------------------------------------------------

CPageCellHistory::CPageCellHistory() : CSettingsPage("DIALOG_CELL_HISTORY_TITTLE") {
  list_ = Table(Tr("DIALOG_CELL_HISTORY_TITTLE"),
                {"DIALOG_CELL_HISTORY_LIST_COLUMN_TIME", "DIALOG_CELL_HISTORY_LIST_COLUMN_CELL",
                 "DIALOG_CELL_HISTORY_LIST_COLUMN_LAC", "DIALOG_CELL_HISTORY_LIST_COLUMN_PROFILE"});
  places_ = new QComboBox;
  QPushButton* assign = Button(Tr("ASSIGN"));
  QPushButton* unassign = Button(Tr("UNASSIGN"));
  QWidget* buttons = ButtonRow({assign, unassign});
  auto* form = NewForm();
  form->addRow(list_);
  AddRow(form, Tr("PLACES"), places_);
  form->addRow(buttons);
  Column()->addLayout(form);
  Column()->addStretch(1);
  connect(assign, &QPushButton::clicked, this,
          [this] { Later(this, [this] { AssignSelected(); }); });
  connect(unassign, &QPushButton::clicked, this,
          [this] { Later(this, [this] { UnassignSelected(); }); });
  CCellHistory::Instance()->AddListener(this);
}

CPageCellHistory::~CPageCellHistory() {
  CCellHistory::Instance()->RemoveListener(this);
}

void CPageCellHistory::FillMenu(QMenu* menu) {
  menu->addAction(Tr("ASSIGN"), this, [this] { Later(this, [this] { AssignSelected(); }); });
  menu->addAction(Tr("UNASSIGN"), this, [this] { Later(this, [this] { UnassignSelected(); }); });
}

void CPageCellHistory::OnHistoryChanged(int) {
  // The radio's thread: one refresh at a time is queued onto the user-interface thread.
  refresh_.Request();
}

void CPageCellHistory::Shown() {
  std::vector<CStrPlace> places;
  try {
    CDB::GetInstance()->GetTablePlaces()->GetAllRecords(&places);
  } catch (const std::exception& e) {
    Trace(TRACE_ERROR, "CPageCellHistory: %s", e.what());
  }
  SetPlaceChoices(places_, places);
  Refresh();
}

void CPageCellHistory::Refresh() {
  int row = list_->currentIndex().row();
  list_->clear();
  for (const CCellHistoryEntry& e : CCellHistory::Instance()->GetEntries()) {
    QString place = e.PlaceId == -1 ? QString("?") : Q(e.PlaceName);
    auto* item =
        new QTreeWidgetItem(list_, {QString::asprintf("%02d:%02d", e.Time.wHour, e.Time.wMinute),
                                    QString::number(e.CellId), QString::number(e.Lac), place});
    item->setData(1, Qt::UserRole, e.CellId);
    item->setData(2, Qt::UserRole, e.Lac);
  }
  if (row >= 0 && row < list_->topLevelItemCount())
    list_->setCurrentItem(list_->topLevelItem(row));
}

std::int32_t CPageCellHistory::SelectedCode() const {
  QTreeWidgetItem* item = list_->currentItem();
  if (!item)
    return 0;
  return item->data(CStrLocation::IsCellMode() ? 1 : 2, Qt::UserRole).toInt();
}

void CPageCellHistory::AssignSelected() {
  std::int32_t code = SelectedCode();
  if (code == 0) {
    Message(this, "SELECT ROW VALID CELL");
    return;
  }
  if (places_->currentIndex() < 0) {
    Message(this, "SELECT PROFILE");
    return;
  }
  std::int32_t placeId = places_->currentData().toInt();
  CDB* db = CDB::GetInstance();
  auto assign = [&](auto* table, auto record) {
    record.SetCode(code);
    bool exists = table->FindAndFill(record);
    if (exists && record.GetPlaceId() != placeId && !Ask(this, "CONFIRM ALLOCATE"))
      return;
    record.SetPlaceId(placeId);
    if (exists)
      table->Update(record);
    else
      table->Insert(record);
    DataChanged();
    Message(this, "LOCATION ASSIGNED");
  };
  try {
    if (CStrLocation::IsCellMode())
      assign(db->GetTableCell(), CStrCell());
    else
      assign(db->GetTableLAC(), CStrLAC());
  } catch (const std::exception& e) {
    platform::ErrorBox(0, "%s", e.what());
  }
}

void CPageCellHistory::UnassignSelected() {
  std::int32_t code = SelectedCode();
  if (code == 0) {
    Message(this, "SELECT ROW VALID CELL");
    return;
  }
  CDB* db = CDB::GetInstance();
  auto remove = [&](auto* table, auto record) {
    record.SetCode(code);
    if (!table->FindAndFill(record)) {
      Message(this, "LOCATION NOT FOUND");
      return;
    }
    if (!Ask(this, "CONFIRM DEALLOCATE"))
      return;
    table->Delete(record);
    DataChanged();
  };
  try {
    if (CStrLocation::IsCellMode())
      remove(db->GetTableCell(), CStrCell());
    else
      remove(db->GetTableLAC(), CStrLAC());
  } catch (const std::exception& e) {
    platform::ErrorBox(0, "%s", e.what());
  }
}

// ---- Event log ---------------------------------------------------------------------------

namespace {

struct ExtraCommand {
  const char* textId;
  std::function<void(QWidget*)> command;
};

std::vector<ExtraCommand>& ExtraCommands() {
  static std::vector<ExtraCommand> commands;
  return commands;
}

}  // namespace

void CPageEventLog::AddMenuCommand(const char* textId, std::function<void(QWidget*)> command) {
  ExtraCommands().push_back({textId, std::move(command)});
}

CPageEventLog::CPageEventLog() : CSettingsPage("DIALOG_EVENT_LOG_TITLE") {
  list_ = Table(Tr("DIALOG_EVENT_LOG_TITLE"),
                {"DIALOG_EVENT_LOG_LIST_COLUMN_TIME", "DIALOG_EVENT_LOG_LIST_COLUMN_MESSAGE"});
  list_->setMinimumHeight(180);
  Column()->addWidget(list_, 1);
  connect(list_, &QTreeWidget::itemActivated, this,
          [this] { Later(this, [this] { ShowDetail(); }); });
  CEventLog::GetInstance()->AddListener(this);
}

CPageEventLog::~CPageEventLog() {
  CEventLog::GetInstance()->RemoveListener(this);
}

void CPageEventLog::FillMenu(QMenu* menu) {
  menu->addAction(Tr("DIALOG_EVENT_LOG_DETAIL"), this,
                  [this] { Later(this, [this] { ShowDetail(); }); });
  menu->addAction(Tr("DIALOG_EVENT_LOG_LIST_MENU_CLEAR"), this, [this] { Clear(); });
  menu->addAction(Tr("DIALOG_EVENT_LOG_MENU_OPTIONS"), this,
                  [this] { Later(this, [this] { ShowOptions(); }); });
  menu->addAction(Tr("DIALOG_EVENT_LOG_LIST_MENU_TEST"), this, [this] { AddTest(); });
  for (const ExtraCommand& extra : ExtraCommands()) {
    auto command = extra.command;
    menu->addAction(Tr(extra.textId), this,
                    [this, command] { Later(this, [this, command] { command(this); }); });
  }
}

void CPageEventLog::Shown() {
  Refresh();
}

void CPageEventLog::OnEventLogChanged(int) {
  // Any thread, under the log's lock: only queue.
  refresh_.Request();
}

void CPageEventLog::Refresh() {
  int row = list_->currentIndex().row();
  list_->clear();
  for (const CEventLogRecord& r : CEventLog::GetInstance()->GetRecords()) {
    new QTreeWidgetItem(
        list_, {QString::asprintf("%02d:%02d:%02d", r.time.wHour, r.time.wMinute, r.time.wSecond),
                Q(r.summary)});
  }
  if (row >= 0 && row < list_->topLevelItemCount())
    list_->setCurrentItem(list_->topLevelItem(row));
}

void CPageEventLog::Clear() {
  CEventLog::GetInstance()->Clear();
  Refresh();
}

void CPageEventLog::AddTest() {
  CEventLog::Add(0, CEventLog::LEVEL_DEBUG, Text("DIALOG_EVENT_LOG_LIST_MENU_TEST"),
                 Text("DIALOG_EVENT_LOG_LIST_MENU_TEST"));
}

void CPageEventLog::ShowOptions() {
  CDlgEventLogOptions dialog(this);
  if (dialog.Run() == QDialog::Accepted)
    dialog.Store();
}

void CPageEventLog::ShowDetail() {
  int row = list_->currentIndex().row();
  if (row < 0) {
    if (list_->topLevelItemCount() == 0)
      return;
    row = 0;
  }
  CDlgEventLogDetail dialog(this, row);
  dialog.Run();
  if (dialog.Index() < list_->topLevelItemCount())
    list_->setCurrentItem(list_->topLevelItem(dialog.Index()));
}

CDlgEventLogDetail::CDlgEventLogDetail(QWidget* parent, int index)
    : CDlgBase(parent, "DIALOG_EVENT_LOG_TITLE") {
  time_ = new QLabel;
  severity_ = new QLabel;
  summary_ = new QLabel;
  description_ = new QLabel;
  for (QLabel* label : {time_, severity_, summary_, description_}) {
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_LIST_COLUMN_TIME"), time_);
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_TEXT_SEVERITY"), severity_);
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_LIST_COLUMN_MESSAGE"), summary_);
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_DESCRIPTION"), description_);
  previous_ = Button(Tr("DIALOG_EVENT_LOG_DETAIL_BUTTON_PREVIOUS"));
  next_ = Button(Tr("DIALOG_EVENT_LOG_DETAIL_BUTTON_NEXT"));
  Form()->addRow(ButtonRow({previous_, next_}));
  SetViewOnly();
  connect(previous_, &QPushButton::clicked, this, [this] { Show(index_ - 1); });
  connect(next_, &QPushButton::clicked, this, [this] { Show(index_ + 1); });
  Show(index);
}

void CDlgEventLogDetail::Show(int index) {
  CEventLogRecord record;
  if (index < 0 || !CEventLog::GetInstance()->GetRecord(index, &record))
    return;
  index_ = index;
  const platform::SYSTEMTIME& t = record.time;
  time_->setText(QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                                   t.wHour, t.wMinute, t.wSecond));
  severity_->setText(CEventLog::LevelName(record.level));
  summary_->setText(Q(record.summary));
  description_->setText(Q(record.description));
  for (QLabel* label : {time_, severity_, summary_, description_})
    label->setAccessibleDescription(label->text());
  CEventLogRecord other;
  previous_->setEnabled(index > 0);
  next_->setEnabled(CEventLog::GetInstance()->GetRecord(index + 1, &other));
}

CDlgEventLogOptions::CDlgEventLogOptions(QWidget* parent)
    : CDlgBase(parent, "DIALOG_EVENT_LOG_OPTIONS_TITLE") {
  items_ = new QSpinBox;
  items_->setRange(1, 1000);
  items_->setValue(static_cast<int>(Settings()->GetDWORD(CEventLog::kItemsScreenKey)));
  toFile_ = new QCheckBox(Tr("DIALOG_EVENT_LOG_OPTIONS_SAVE_TO_FILE"));
  toFile_->setAccessibleName(toFile_->text());
  toFile_->setChecked(Settings()->GetDWORD(CEventLog::kWriteToFileKey) != 0);
  path_ = new QLineEdit(Q(Settings()->GetString(CEventLog::kPathKey)));
  path_->setMaxLength(static_cast<int>(CEventLog::kMaxPathChars));
  maxSize_ = new QSpinBox;
  maxSize_->setRange(1, 100000);
  maxSize_->setValue(static_cast<int>(Settings()->GetDWORD(CEventLog::kMaxSizeKey)));
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_OPTIONS_ITEMS_ON_SCREEN"), items_);
  Form()->addRow(CheckRow(toFile_));
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_OPTIONS_LOG_FILE_PATH"), FileRow(path_, ".txt"));
  path_->setAccessibleName(Tr("DIALOG_EVENT_LOG_OPTIONS_LOG_FILE_PATH"));
  AddRow(Form(), Tr("DIALOG_EVENT_LOG_OPTIONS_MAX_FILE_SIZE"), maxSize_);
}

bool CDlgEventLogOptions::Validate() {
  if (toFile_->isChecked() && path_->text().trimmed().isEmpty()) {
    Message(this, "PLEASE FILL DATA");
    path_->setFocus();
    return false;
  }
  return true;
}

void CDlgEventLogOptions::Store() {
  Settings()->SetDWORD(CEventLog::kItemsScreenKey, static_cast<platform::DWORD>(items_->value()));
  Settings()->SetDWORD(CEventLog::kWriteToFileKey, toFile_->isChecked() ? 1 : 0);
  if (!path_->text().trimmed().isEmpty())
    Settings()->SetString(CEventLog::kPathKey, S(path_->text().trimmed()));
  Settings()->SetDWORD(CEventLog::kMaxSizeKey, static_cast<platform::DWORD>(maxSize_->value()));
  Message(this, "RESTART TO APPLY");
}
