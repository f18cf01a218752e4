// "PAGE PROFILES": the places with their time frames and the actions each frame runs on
// entering and on leaving. Every change goes through the tables at once and makes the schedule
// engine evaluate the location again.
//
// Threads: user-interface thread only.
#pragma once

#include <cstdint>

#include "ui/SettingsSheet.h"

class QComboBox;
class QListWidget;
class QPushButton;
class CStrPeriod;

class CPageProfiles : public CSettingsPage {
  Q_OBJECT

 public:
  CPageProfiles();
  void FillMenu(QMenu* menu) override;
  void Shown() override;

  // The operations of the page's buttons and menu.
  void AddPlace();
  void EditPlace();
  void RemovePlace();
  void AddFrame();
  void EditFrame();
  void RemoveFrame();
  // Adds an action to the selected frame; `type` is the direction offered first.
  void AddAction(int type);
  void EditAction();
  void RemoveAction();
  void EditWeekdays();

  // The selection: place Id (-1 none), frame Id (-1 none), action Id (-1 none).
  std::int32_t SelectedPlace() const;
  std::int32_t SelectedFrame() const;
  std::int32_t SelectedAction() const;
  void SelectPlace(std::int32_t placeId);
  void SelectFrame(std::int32_t frameId);

  QComboBox* Places() const { return places_; }
  QListWidget* Frames() const { return frames_; }
  QListWidget* EnterActions() const { return enter_; }
  QListWidget* LeaveActions() const { return leave_; }

 private:
  void FillPlaces(std::int32_t select);
  void FillFrames(std::int32_t select);
  void FillActions(std::int32_t select);
  // Opens the action dialog for a new action of `frameId` and stores it when saved.
  void NewAction(std::int32_t frameId, int type);
  // Runs a table operation; a database failure is shown and counts as not done.
  bool Store(const std::function<void()>& work);

  QComboBox* places_;
  QListWidget* frames_;
  QListWidget* enter_;
  QListWidget* leave_;
  QListWidget* lastActions_;  // the action list that had the focus last
};
