#include "ui/PageProfiles.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

#include "app/Trace.h"
#include "data/DB.h"
#include "data/TableActions.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/ScheduleEngine.h"
#include "platform/Mosutil.h"
#include "ui/DlgRecords.h"
#include "ui/SettingsUi.h"

using namespace settingsui;

namespace {

CDB* Db() {
  return CDB::GetInstance();
}

QString FrameText(const CStrPeriod& p) {
  return QString::asprintf("%02d:%02d-%02d:%02d ", p.GetStart().wHour, p.GetStart().wMinute,
                           p.GetEnd().wHour, p.GetEnd().wMinute) +
         Q(p.GetName());
}

QListWidget* List(const QString& name, int rows) {
  auto* list = new QListWidget;
  list->setAccessibleName(name);
  list->setMinimumHeight(rows * 18 + 4);
  list->setMaximumHeight(rows * 18 + 4);
  return list;
}

// A row of three buttons ("Add", "Edit", "Remove") whose accessible names say what they act on.
QWidget* AddEditRemoveRow(const char* addId, const char* editId, const char* removeId,
                          QPushButton** add, QPushButton** edit, QPushButton** remove) {
  *add = Button(Tr("BUTTON ADD"));
  *edit = Button(Tr("BUTTON EDIT"));
  *remove = Button(Tr("BUTTON REMOVE"));
  (*add)->setAccessibleName(Tr(addId));
  (*edit)->setAccessibleName(Tr(editId));
  (*remove)->setAccessibleName(Tr(removeId));
  return ButtonRow({*add, *edit, *remove});
}

}  // namespace

CPageProfiles::CPageProfiles() : CSettingsPage("PAGE PROFILES") {
  places_ = new QComboBox;
  places_->setAccessibleName(Tr("PLACES"));
  frames_ = List(Tr("SCHEDULE"), 3);
  enter_ = List(Tr("DIALOG_PROFILES_ON_ENTER"), 3);
  leave_ = List(Tr("DIALOG_PROFILES_ON_EXIT"), 3);
  lastActions_ = enter_;
  QPushButton *addPlace, *editPlace, *removePlace;
  QPushButton *addFrame, *editFrame, *removeFrame;
  QPushButton *addAction, *editAction, *removeAction;
  Column()->addWidget(Caption(Tr("PLACES"), places_));
  Column()->addWidget(places_);
  Column()->addWidget(AddEditRemoveRow("PLACE ADD", "PLACE EDIT", "PLACE REMOVE", &addPlace,
                                       &editPlace, &removePlace));
  Column()->addWidget(Caption(Tr("SCHEDULE"), frames_));
  Column()->addWidget(frames_);
  Column()->addWidget(AddEditRemoveRow("FRAME ADD", "FRAME EDIT", "FRAME REMOVE", &addFrame,
                                       &editFrame, &removeFrame));
  Column()->addWidget(Caption(Tr("DIALOG_PROFILES_ON_ENTER"), enter_));
  Column()->addWidget(enter_);
  Column()->addWidget(Caption(Tr("DIALOG_PROFILES_ON_EXIT"), leave_));
  Column()->addWidget(leave_);
  Column()->addWidget(AddEditRemoveRow("ACTION ADD", "ACTION EDIT", "ACTION REMOVE", &addAction,
                                       &editAction, &removeAction));
  Column()->addStretch(1);

  auto later = [this](QPushButton* b, void (CPageProfiles::*op)()) {
    connect(b, &QPushButton::clicked, this,
            [this, op] { Later(this, [this, op] { (this->*op)(); }); });
  };
  later(addPlace, &CPageProfiles::AddPlace);
  later(editPlace, &CPageProfiles::EditPlace);
  later(removePlace, &CPageProfiles::RemovePlace);
  later(addFrame, &CPageProfiles::AddFrame);
  later(editFrame, &CPageProfiles::EditFrame);
  later(removeFrame, &CPageProfiles::RemoveFrame);
  connect(addAction, &QPushButton::clicked, this, [this] {
    Later(this, [this] {
      AddAction(lastActions_ == leave_ ? CStrAction::TYPE_LEAVE : CStrAction::TYPE_ENTER);
    });
  });
  later(editAction, &CPageProfiles::EditAction);
  later(removeAction, &CPageProfiles::RemoveAction);
  connect(places_, &QComboBox::currentIndexChanged, this, [this] { FillFrames(-1); });
  connect(frames_, &QListWidget::currentRowChanged, this, [this] { FillActions(-1); });
  // One action is selected at a time, in either list.
  for (QListWidget* list : {enter_, leave_}) {
    QListWidget* other = list == enter_ ? leave_ : enter_;
    connect(list, &QListWidget::currentRowChanged, this, [this, list, other](int row) {
      if (row >= 0) {
        lastActions_ = list;
        other->setCurrentRow(-1);
      }
    });
    connect(list, &QListWidget::itemActivated, this,
            [this] { Later(this, [this] { EditAction(); }); });
  }
  connect(frames_, &QListWidget::itemActivated, this,
          [this] { Later(this, [this] { EditFrame(); }); });
}

void CPageProfiles::FillMenu(QMenu* menu) {
  auto add = [this, menu](const char* id, void (CPageProfiles::*op)()) {
    menu->addAction(Tr(id), this, [this, op] { Later(this, [this, op] { (this->*op)(); }); });
  };
  add("PLACE ADD", &CPageProfiles::AddPlace);
  add("PLACE EDIT", &CPageProfiles::EditPlace);
  add("PLACE REMOVE", &CPageProfiles::RemovePlace);
  menu->addSeparator();
  add("FRAME ADD", &CPageProfiles::AddFrame);
  add("FRAME EDIT", &CPageProfiles::EditFrame);
  add("FRAME REMOVE", &CPageProfiles::RemoveFrame);
  menu->addSeparator();
  menu->addAction(Tr("ACTION ADD ENTER"), this,
                  [this] { Later(this, [this] { AddAction(CStrAction::TYPE_ENTER); }); });
  menu->addAction(Tr("ACTION ADD LEAVE"), this,
                  [this] { Later(this, [this] { AddAction(CStrAction::TYPE_LEAVE); }); });
  add("ACTION EDIT", &CPageProfiles::EditAction);
  add("DIALOG_WEEK_TITLE", &CPageProfiles::EditWeekdays);
  add("ACTION REMOVE", &CPageProfiles::RemoveAction);
}

void CPageProfiles::Shown() {
  FillPlaces(SelectedPlace());
}

bool CPageProfiles::Store(const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    Trace(TRACE_ERROR, "CPageProfiles: %s", e.what());
    platform::ErrorBox(0, "%s", e.what());
    return false;
  }
}

// ---- Selection ---------------------------------------------------------------------------

std::int32_t CPageProfiles::SelectedPlace() const {
  return places_->currentIndex() >= 0 ? places_->currentData().toInt() : -1;
}

std::int32_t CPageProfiles::SelectedFrame() const {
  QListWidgetItem* item = frames_->currentItem();
  return item && frames_->currentRow() >= 0 ? item->data(Qt::UserRole).toInt() : -1;
}

std::int32_t CPageProfiles::SelectedAction() const {
  for (QListWidget* list : {enter_, leave_}) {
    if (list->currentRow() >= 0 && list->currentItem())
      return list->currentItem()->data(Qt::UserRole).toInt();
  }
  return -1;
}

void CPageProfiles::SelectPlace(std::int32_t placeId) {
  int index = places_->findData(placeId);
  if (index >= 0)
    places_->setCurrentIndex(index);
}

void CPageProfiles::SelectFrame(std::int32_t frameId) {
  for (int i = 0; i < frames_->count(); ++i) {
    if (frames_->item(i)->data(Qt::UserRole).toInt() == frameId)
      frames_->setCurrentRow(i);
  }
}

void CPageProfiles::FillPlaces(std::int32_t select) {
  std::vector<CStrPlace> places;
  Store([&] { Db()->GetTablePlaces()->GetAllRecords(&places); });
  SetPlaceChoices(places_, places, select);
  FillFrames(SelectedFrame());
}

void CPageProfiles::FillFrames(std::int32_t select) {
  std::vector<CStrPeriod> frames;
  std::int32_t placeId = SelectedPlace();
  if (placeId >= 0)
    Store([&] { Db()->GetTablePeriods()->GetAllRecordsForPlace(&frames, placeId); });
  {
    QSignalBlocker block(frames_);
    frames_->clear();
    for (const CStrPeriod& frame : frames) {
      auto* item = new QListWidgetItem(FrameText(frame), frames_);
      item->setData(Qt::UserRole, frame.GetId());
    }
    frames_->setCurrentRow(frames.empty() ? -1 : 0);
    SelectFrame(select);
  }
  FillActions(-1);
}

void CPageProfiles::FillActions(std::int32_t select) {
  std::vector<CStrAction> actions;
  std::int32_t frameId = SelectedFrame();
  if (frameId >= 0)
    Store([&] { Db()->GetTableActions()->GetAllForPeriod(&actions, frameId); });
  QSignalBlocker blockEnter(enter_);
  QSignalBlocker blockLeave(leave_);
  enter_->clear();
  leave_->clear();
  for (const CStrAction& action : actions) {
    QListWidget* list = action.GetType() == CStrAction::TYPE_LEAVE ? leave_ : enter_;
    auto* item = new QListWidgetItem(Q(CDlgAction::Describe(action)), list);
    item->setData(Qt::UserRole, action.GetId());
    if (action.GetId() == select) {
      list->setCurrentItem(item);
      lastActions_ = list;
    }
  }
}

// ---- Places ------------------------------------------------------------------------------

void CPageProfiles::AddPlace() {
  CStrPlace place;
  place.SetImage(CTablePlaces::kUnknownPlaceImage);
  CDlgPlace dialog(this, place);
  if (dialog.Run() != QDialog::Accepted)
    return;
  place = dialog.GetPlace();
  if (!Store([&] { Db()->GetTablePlaces()->Insert(place); }))
    return;
  DataChanged();
  FillPlaces(place.GetId());
  // A new place may start with a frame over the whole day, and its actions.
  if (!Ask(this, "CONFIRM CREATE DEFAULT SCHEDULE"))
    return;
  CStrPeriod frame;
  frame.SetName(Text("NAME DEFAULT TIME FRAME"));
  frame.SetIdPlace(place.GetId());
  frame.SetStart(0, 0);
  frame.SetEnd(0, 0);
  if (!Store([&] { Db()->GetTablePeriods()->Insert(frame); }))
    return;
  DataChanged();
  FillFrames(frame.GetId());
  if (Ask(this, "CONFIRM CUSTOMIZA ACTION"))
    NewAction(frame.GetId(), CStrAction::TYPE_ENTER);
}

void CPageProfiles::EditPlace() {
  CStrPlace place;
  place.SetId(SelectedPlace());
  if (place.GetId() < 0) {
    Message(this, "SELECT PROFILE");
    return;
  }
  if (!Db()->GetTablePlaces()->FindAndFill(place)) {
    Message(this, "PLACE TO EDIT NOT FOUND");
    FillPlaces(-1);
    return;
  }
  CDlgPlace dialog(this, place);
  if (dialog.Run() != QDialog::Accepted)
    return;
  place = dialog.GetPlace();
  if (!Store([&] { Db()->GetTablePlaces()->Update(place); }))
    return;
  DataChanged();
  FillPlaces(place.GetId());
}

void CPageProfiles::RemovePlace() {
  CStrPlace place;
  place.SetId(SelectedPlace());
  if (place.GetId() < 0) {
    Message(this, "SELECT PROFILE");
    return;
  }
  if (place.GetId() == CTablePlaces::kUnknownPlaceId) {
    Message(this, "REMOVE DEFAULT PROFILE NOT ALLOWED");
    return;
  }
  if (!Ask(this, "CONFIRM DELETE PROFILE"))
    return;
  if (!Db()->GetTablePlaces()->FindAndFill(place)) {
    FillPlaces(-1);
    return;
  }
  // The place goes with its time frames, their actions, its cells and its areas.
  if (!Store([&] { Db()->DeletePlace(place); }))
    return;
  DataChanged();
  FillPlaces(-1);
}

// ---- Time frames -------------------------------------------------------------------------

void CPageProfiles::AddFrame() {
  std::int32_t placeId = SelectedPlace();
  if (placeId < 0) {
    Message(this, "SELECT PROFILE");
    return;
  }
  CStrPeriod frame;
  frame.SetIdPlace(placeId);
  CDlgTimeFrame dialog(this, frame);
  if (dialog.Run() != QDialog::Accepted)
    return;
  frame = dialog.GetPeriod();
  frame.SetIdPlace(placeId);
  // The engine refuses an overlap and splits a frame around this one once the user agrees.
  bool stored = false;
  Store([&] {
    if (CScheduleEngine::Instance()->AddPeriod(frame)) {
      Db()->GetTablePeriods()->Insert(frame);
      stored = true;
    }
  });
  if (!stored) {
    FillFrames(SelectedFrame());
    return;
  }
  DataChanged();
  FillFrames(frame.GetId());
}

void CPageProfiles::EditFrame() {
  CStrPeriod frame;
  frame.SetId(SelectedFrame());
  if (frame.GetId() < 0) {
    Message(this, "SELECT PERIOD");
    return;
  }
  if (!Db()->GetTablePeriods()->FindAndFill(frame)) {
    FillFrames(-1);
    return;
  }
  CDlgTimeFrame dialog(this, frame);
  if (dialog.Run() != QDialog::Accepted)
    return;
  frame = dialog.GetPeriod();
  bool stored = false;
  Store([&] {
    if (CScheduleEngine::Instance()->UpdatePeriod(frame)) {
      Db()->GetTablePeriods()->Update(frame);
      stored = true;
    }
  });
  if (stored)
    DataChanged();
  FillFrames(frame.GetId());
}

void CPageProfiles::RemoveFrame() {
  CStrPeriod frame;
  frame.SetId(SelectedFrame());
  if (frame.GetId() < 0) {
    Message(this, "SELECT PERIOD");
    return;
  }
  if (!Ask(this, "CONFIRM REMOVE TIME FRAME"))
    return;
  if (!Db()->GetTablePeriods()->FindAndFill(frame)) {
    FillFrames(-1);
    return;
  }
  CDB* db = Db();
  bool removed = Store([&] {
    CDB::Transaction transaction(*db);
    db->GetTableActions()->DeleteForPeriod(frame);
    db->GetTablePeriods()->Delete(frame);
    transaction.Commit();
  });
  if (removed)
    DataChanged();
  FillFrames(-1);
}

// ---- Actions -----------------------------------------------------------------------------

void CPageProfiles::NewAction(std::int32_t frameId, int type) {
  CStrAction action;
  action.SetIdPeriod(frameId);
  action.SetType(type);
  action.SetMgrId(CDlgAction::Kinds().front().mgrId);
  action.SetIntOp2(0);
  CDlgAction dialog(this, action);
  if (dialog.Run() != QDialog::Accepted)
    return;
  action = dialog.GetAction();
  action.SetIdPeriod(frameId);
  if (!Store([&] { Db()->GetTableActions()->Insert(action); }))
    return;
  DataChanged();
  FillActions(action.GetId());
}

void CPageProfiles::AddAction(int type) {
  std::int32_t frameId = SelectedFrame();
  if (frameId < 0) {
    Message(this, "SELECT PROFILE SCHEDULE");
    return;
  }
  NewAction(frameId, type);
}

void CPageProfiles::EditAction() {
  CStrAction action;
  action.SetId(SelectedAction());
  if (action.GetId() < 0 || !Db()->GetTableActions()->FindAndFill(action)) {
    Message(this, "SELECT ACTION");
    return;
  }
  CDlgAction dialog(this, action);
  if (dialog.Run() != QDialog::Accepted)
    return;
  CStrAction edited = dialog.GetAction();
  // The manager id of a stored action never changes: another kind is a new action in its place.
  bool stored = Store([&] {
    if (edited.GetMgrId() == action.GetMgrId()) {
      Db()->GetTableActions()->Update(edited);
    } else {
      CDB::Transaction transaction(*Db());
      Db()->GetTableActions()->Delete(action);
      edited.SetOid(0);
      edited.SetId(-1);
      Db()->GetTableActions()->Insert(edited);
      transaction.Commit();
    }
  });
  if (stored)
    DataChanged();
  FillActions(edited.GetId());
}

void CPageProfiles::EditWeekdays() {
  CStrAction action;
  action.SetId(SelectedAction());
  if (action.GetId() < 0 || !Db()->GetTableActions()->FindAndFill(action)) {
    Message(this, "SELECT ACTION");
    return;
  }
  CDlgWeek dialog(this, action.GetIntOp2());
  if (dialog.Run() != QDialog::Accepted)
    return;
  action.SetIntOp2(dialog.GetMask());
  if (Store([&] { Db()->GetTableActions()->Update(action); }))
    DataChanged();
  FillActions(action.GetId());
}

void CPageProfiles::RemoveAction() {
  CStrAction action;
  action.SetId(SelectedAction());
  if (action.GetId() < 0 || !Db()->GetTableActions()->FindAndFill(action)) {
    Message(this, "SELECT ACTION");
    return;
  }
  if (!Ask(this, "CONFIRM REMOVE ACTION"))
    return;
  if (Store([&] { Db()->GetTableActions()->Delete(action); }))
    DataChanged();
  FillActions(-1);
}
