#include "ui/PageMain.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

#include "app/RegistrySettings.h"
#include "app/TextFormat.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePlaces.h"
#include "location/RilMgr.h"
#include "platform/Mosutil.h"
#include "ui/DlgRecords.h"
#include "ui/SettingsUi.h"

using namespace settingsui;

namespace {

CDB* Db() {
  return CDB::GetInstance();
}

bool Guarded(const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    Trace(TRACE_ERROR, "CPageMain: %s", e.what());
    platform::ErrorBox(0, "%s", e.what());
    return false;
  }
}

// Runs `work` with the location table of the mode and its record type.
template <class Work>
void WithTable(bool cellMode, Work work) {
  if (cellMode)
    work(Db()->GetTableCell(), CStrCell());
  else
    work(Db()->GetTableLAC(), CStrLAC());
}

}  // namespace

CPageMain::CPageMain() : CSettingsPage("PAGE MAIN") {
  current_ = new QLabel;
  current_->setWordWrap(true);
  mode_ = new QComboBox;
  mode_->addItem(Tr("LAC MODE"), 0);
  mode_->addItem(Tr("CELL MODE"), 1);
  mode_->setAccessibleName(Tr("LOCATION MODE"));
  mode_->setCurrentIndex(CStrLocation::IsCellMode() ? 1 : 0);
  places_ = new QComboBox;
  places_->setAccessibleName(Tr("PLACES"));
  locations_ = new QListWidget;
  locations_->setAccessibleName(Tr("LOCATIONS"));
  locations_->setMinimumHeight(4 * 18 + 4);
  QPushButton* assign = Button(Tr("ASSIGN"));
  QPushButton* unassign = Button(Tr("UNASSIGN"));
  QPushButton* add = Button(Tr("BUTTON ADD"));
  add->setAccessibleName(Tr("MENU_ADD_LOCATION"));
  QWidget* buttons = ButtonRow({assign, unassign, add});
  Column()->addWidget(Caption(Tr("CURRENT LOCATION"), current_));
  Column()->addWidget(current_);
  Column()->addWidget(Caption(Tr("LOCATION MODE"), mode_));
  Column()->addWidget(mode_);
  Column()->addWidget(Caption(Tr("PLACES"), places_));
  Column()->addWidget(places_);
  Column()->addWidget(Caption(Tr("LOCATIONS"), locations_));
  Column()->addWidget(locations_);
  Column()->addWidget(buttons);
  Column()->addStretch(1);
  connect(assign, &QPushButton::clicked, this, [this] { Later(this, [this] { Assign(); }); });
  connect(unassign, &QPushButton::clicked, this, [this] { Later(this, [this] { Unassign(); }); });
  connect(add, &QPushButton::clicked, this, [this] { Later(this, [this] { AddLocation(); }); });
  connect(places_, &QComboBox::currentIndexChanged, this, [this] { FillLocations(); });
  connect(mode_, &QComboBox::currentIndexChanged, this, [this] {
    FillLocations();
    ShowCurrentLocation();
  });
}

void CPageMain::FillMenu(QMenu* menu) {
  menu->addAction(Tr("ASSIGN"), this, [this] { Later(this, [this] { Assign(); }); });
  menu->addAction(Tr("UNASSIGN"), this, [this] { Later(this, [this] { Unassign(); }); });
  menu->addAction(Tr("MENU_ADD_LOCATION"), this,
                  [this] { Later(this, [this] { AddLocation(); }); });
  menu->addAction(Tr("MENU_REMOVE_LOCATION"), this,
                  [this] { Later(this, [this] { Unassign(); }); });
}

void CPageMain::Save(SettingsSaveOutcome*) {
  int mode = CellModeChosen() ? 1 : 0;
  if (CRilMgr* ril = CRilMgr::GetInstance()) {
    if (ril->GetLocationMode() != mode) {
      ril->SetLocationMode(mode);
      DataChanged();
    }
  } else {
    CStrLocation::SetCellMode(mode != 0);
    CRegistrySettings::Instance()->SetDWORD(CRilMgr::kLocationModeKey, mode);
  }
}

void CPageMain::Shown() {
  ShowCurrentLocation();
  // The page opens on the place the phone is in.
  FillPlaces(shownOnce_ ? SelectedPlace() : currentPlace_);
  shownOnce_ = true;
}

bool CPageMain::CellModeChosen() const {
  return mode_->currentData().toInt() != 0;
}

std::int32_t CPageMain::SelectedPlace() const {
  return places_->currentIndex() >= 0 ? places_->currentData().toInt() : -1;
}

void CPageMain::ShowCurrentLocation() {
  CRilMgr* ril = CRilMgr::GetInstance();
  std::int32_t cell = ril ? ril->GetCellId() : 0;
  std::int32_t lac = ril ? ril->GetLac() : 0;
  std::string place = Text("UNKNOWN");
  currentPlace_ = -1;
  std::int32_t code = CellModeChosen() ? cell : lac;
  WithTable(CellModeChosen(), [&](auto* table, auto record) {
    record.SetCode(code);
    Guarded([&] {
      if (code != 0 && table->FindAndFill(record)) {
        CStrPlace p;
        p.SetId(record.GetPlaceId());
        if (Db()->GetTablePlaces()->FindAndFill(p)) {
          place = p.GetName();
          currentPlace_ = p.GetId();
        }
      }
    });
  });
  current_->setText(Tr("CELL INTRO") + QString::number(cell) + "\n" + Tr("LAC INTRO") +
                    QString::number(lac) + "\n" + Q(place));
  current_->setAccessibleName(Tr("CURRENT LOCATION"));
  current_->setAccessibleDescription(current_->text());
}

void CPageMain::FillPlaces(std::int32_t select) {
  std::vector<CStrPlace> places;
  Guarded([&] { Db()->GetTablePlaces()->GetAllRecords(&places); });
  SetPlaceChoices(places_, places, select);
  FillLocations();
}

void CPageMain::FillLocations() {
  locations_->clear();
  std::int32_t placeId = SelectedPlace();
  if (placeId < 0)
    return;
  QString prefix = Tr(CellModeChosen() ? "CELL INTRO" : "LAC INTRO");
  WithTable(CellModeChosen(), [&](auto* table, auto record) {
    std::vector<decltype(record)> list;
    Guarded([&] { table->GetAllForPlace(&list, placeId); });
    for (const auto& location : list) {
      auto* item = new QListWidgetItem(prefix + QString::number(location.GetCode()), locations_);
      item->setData(Qt::UserRole, location.GetCode());
    }
  });
}

bool CPageMain::AssignCode(std::int32_t code, std::int32_t placeId) {
  bool stored = false;
  WithTable(CellModeChosen(), [&](auto* table, auto record) {
    record.SetCode(code);
    bool exists = false;
    if (!Guarded([&] { exists = table->FindAndFill(record); }))
      return;
    if (exists && record.GetPlaceId() == placeId) {
      stored = true;
      return;
    }
    // A location belongs to one place: taking it from another one needs the user's word.
    if (exists && !Ask(this, "CONFIRM ALLOCATE"))
      return;
    record.SetPlaceId(placeId);
    stored = Guarded([&] {
      if (exists)
        table->Update(record);
      else
        table->Insert(record);
    });
  });
  if (stored) {
    DataChanged();
    FillLocations();
  }
  return stored;
}

void CPageMain::Assign() {
  std::int32_t placeId = SelectedPlace();
  if (placeId < 0) {
    Message(this, "SELECT PROFILE");
    return;
  }
  CRilMgr* ril = CRilMgr::GetInstance();
  std::int32_t code = !ril ? 0 : CellModeChosen() ? ril->GetCellId() : ril->GetLac();
  if (code == 0) {
    Message(this, "SELECT ROW VALID CELL");
    return;
  }
  if (AssignCode(code, placeId))
    Message(this, "LOCATION ASSIGNED");
}

void CPageMain::Unassign() {
  QListWidgetItem* item = locations_->currentItem();
  if (!item || locations_->currentRow() < 0) {
    Message(this, "SELECT LOCATION");
    return;
  }
  std::int32_t code = item->data(Qt::UserRole).toInt();
  if (!Ask(this, "CONFIRM DEALLOCATE"))
    return;
  bool removed = false;
  WithTable(CellModeChosen(), [&](auto* table, auto record) {
    record.SetCode(code);
    bool exists = false;
    Guarded([&] { exists = table->FindAndFill(record); });
    if (!exists) {
      Message(this, "LOCATION NOT FOUND");
      return;
    }
    removed = Guarded([&] { table->Delete(record); });
  });
  if (removed)
    DataChanged();
  FillLocations();
}

void CPageMain::AddLocation() {
  std::int32_t placeId = SelectedPlace();
  if (placeId < 0) {
    Message(this, "SELECT PROFILE");
    return;
  }
  CDlgAddLocation dialog(this, CellModeChosen());
  if (dialog.Run() != QDialog::Accepted)
    return;
  AssignCode(dialog.GetCode(), placeId);
}
