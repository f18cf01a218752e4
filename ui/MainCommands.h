// The main window's one-tap switching and its remaining menu commands: the option dialog of each
// feature button (the states the feature can be switched to, an optional time limit after which
// the manager switches it back, and the buttons that open the phone's own settings), the places
// option dialog of the current-location panel, the volume levels, call forwarding, backlight,
// home-screen theme, ring tone, the memory report, the diagnostic commands, About and help.
//
// Threads: user-interface thread only. Managers are only asked (ForceStatus and the like queue
// onto their workers); the call-forwarding request alone blocks the caller until the network
// answers, as the manager's contract says.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

class CWindowMain;
class CDB;
class CMgr;
class CButtonOwnDrawImage;
class COptionDialog;
class CStrPlace;

class CMainCommands {
 public:
  // Control ids of the panel's buttons.
  enum Control {
    CTRL_BT = 103,
    CTRL_SPEAKER = 104,
    CTRL_WIFI = 105,
    CTRL_PLACE = 106,
    CTRL_PHONE = 107,
    CTRL_CONNECTIONS = 108,
    CTRL_BAND = 110,
  };
  // Menu command ids.
  enum Command {
    CMD_TEST_LOWER_BATTERY = 40052,
    CMD_TEST_LOWER_SIGNAL = 40053,
    CMD_TEST_LOCATION_1 = 40054,
    CMD_TEST_LOCATION_2 = 40115,
    CMD_TEST_RADIO_CHECK = 40109,
    CMD_CALL_FORWARD_OFF = 40094,
    CMD_CALL_FORWARD_ON = 40095,
    CMD_VOLUME_0 = 40127,
    CMD_VOLUME_5 = 40132,
    CMD_BACKLIGHT = 40133,
    CMD_TODAY_THEME = 40135,
    CMD_RING_TONE = 40136,
    CMD_MEMORY = 40223,
    CMD_ABOUT = 9,
    CMD_HELP = 40241,
    CMD_LOCATION_ADD = 40229,
    CMD_LOCATION_ASSIGN = 40231,
    CMD_LOCATION_SCHEDULE = 40232,
    CMD_LOCATION_ACTIONS = 40233,
    CMD_LOCATION_LOCK = 40235,
    CMD_LOCATION_UNLOCK = 40237,
    CMD_PAGE_MAIN = 40002,
  };
  // The setting that keeps the last call-forwarding number the user entered.
  static constexpr const char* kForwardNumberKey = "call_forward_number";
  // The cells the two diagnostic test locations move the phone to (cell id, area code).
  static constexpr unsigned kTestCell1 = 1001, kTestLac1 = 100;
  static constexpr unsigned kTestCell2 = 2002, kTestLac2 = 200;

  // Registers every command with `window`; `window` and `db` must outlive the registration.
  static void Register(CWindowMain* window, CDB* db);

  CMainCommands(CWindowMain* window, CDB* db) : window_(window), db_(db) {}

  // The feature buttons' option dialogs.
  void OnBluetooth();
  void OnSpeaker();
  void OnWifi();
  void OnPhone();
  void OnConnections();
  void OnBand();
  void OnPlaces();

  void SetVolumeLevel(int level);
  void CallForwarding(bool on);
  void Backlight();
  void TodayTheme();
  void RingTone();
  void MemoryReport();
  void About();
  void Help();
  void LowerBattery();
  void LowerSignal();
  void TestLocation(unsigned cellId, unsigned lac);
  void RadioCheck();

  // The location commands (lock and unlock are the application's own, run through the window).
  void AddPlace();
  void AssignToPlace();
  // Opens the places page of the settings on the current place: its time frames, or the actions
  // of its frame now in force (else of its first frame).
  void ShowFrames(bool actions);

  // Asks which place to lock to (`place` comes in as the one offered first) and for how long:
  // false when cancelled; `minutes` is 0 for no limit.
  bool AskLock(CStrPlace* place, int* minutes);

  // The process's heap in use, in bytes.
  static std::size_t HeapInUse();

 private:
  // A new "SELECT OPTION" dialog over the main window (its cancel button already in place).
  COptionDialog* NewOptions();
  // Adds the option of `status`, drawn with the image the button of `control` shows for it.
  void AddState(COptionDialog& dialog, int control, int status, const char* skinId,
                const char* captionId);
  // A state a feature's option dialog offers, and the text id of its caption.
  struct StateOption {
    int status;
    const char* captionId;
  };
  // A button after the states that opens something else (the phone's own settings, say): its
  // option id, the text id of its caption, and what it does. An empty one ({}) has no caption.
  struct ExtraOption {
    int id;
    const char* captionId;
    std::function<void()> run;
  };
  // Shows the option dialog of the feature button `control`: each of `states` but `current`,
  // skinned by `skinId`, then `extra` when it has a caption. Returns the status chosen; nothing
  // when cancelled or when the extra button was pressed (its work is done by then).
  std::optional<int> AskState(int control, const char* skinId, int current,
                              std::initializer_list<StateOption> states,
                              const ExtraOption& extra = {});
  // Asks for a time limit: false when cancelled; `minutes` is 0 for no limit.
  bool AskTimeLimit(int* minutes);
  // Switches `mgr` to `state`; with a limit, its notification returns to the status it has now.
  static void ForceWithLimit(CMgr* mgr, int state, int minutes);
  // A box with the translation of `id`.
  void Tell(const char* id);
  // Makes the location `code` (of the table of the current mode) a location of `placeId`: its
  // record changes place, or a new one is added. Throws what the table throws.
  void AssignLocation(std::int32_t code, std::int32_t placeId);
  void RefreshPlacePanel();

  CWindowMain* window_;
  CDB* db_;
};
