// "PAGE MAIN": the places and the locations (cells or location areas) that identify them, the
// current location and the location mode. Locations are stored through the tables at once; the
// location mode is a setting, written when the sheet is saved.
//
// Threads: user-interface thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/SettingsSheet.h"

class QComboBox;
class QLabel;
class QListWidget;

class CPageMain : public CSettingsPage {
  Q_OBJECT

 public:
  CPageMain();
  void FillMenu(QMenu* menu) override;
  void Save(SettingsSaveOutcome* outcome) override;
  void Shown() override;

  // Assigns the current location to the selected place ("CONFIRM ALLOCATE" when another place
  // has it).
  void Assign();
  // Removes the selected location from its place ("CONFIRM DEALLOCATE").
  void Unassign();
  // Asks for a location code and assigns it to the selected place.
  void AddLocation();
  // Assigns `code` to `placeId` in the table of the chosen mode; asks before taking it from
  // another place. True when stored.
  bool AssignCode(std::int32_t code, std::int32_t placeId);

  bool CellModeChosen() const;
  QComboBox* Places() const { return places_; }
  QComboBox* Mode() const { return mode_; }
  QListWidget* Locations() const { return locations_; }

 private:
  void FillPlaces(std::int32_t select);
  void FillLocations();
  void ShowCurrentLocation();
  std::int32_t SelectedPlace() const;

  QLabel* current_;
  QComboBox* mode_;
  QComboBox* places_;
  QListWidget* locations_;
  std::int32_t currentPlace_ = -1;  // the place of the current location, -1 when unknown
  bool shownOnce_ = false;
};
