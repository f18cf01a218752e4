// Why a status change happens. A cause travels with a change request to the manager's worker
// and ends, translated into the current language, in the description of the change's event-log
// entries (the requested change and the observed one), and in the cause column of the log's CSV
// export.
//
// A caller names the cause with the five-argument CMgr::ForceStatus, or with a CChangeCauseScope
// around calls that request changes further down (a time limit that swaps a status). A request
// made without either is a change by hand from the main window.
//
// Threads: values are plain copies; the scope is per thread.
#pragma once

#include <cstdint>
#include <string>

struct CChangeCause {
  enum Kind {
    kButton,       // the user, by hand, from the main window's buttons and option panels
    kMenu,         // the user, with a menu command
    kSchedule,     // an action of a time frame entered or left
    kTimeLimit,    // the end of a time limit, undoing the change it limited
    kCallStarted,  // a call began
    kCallEnded,    // the last call ended: the status from before the call comes back
    kRadioBack,    // the radio came back on: the place's action is applied again
    kOutside,      // not caused by Telvane (observed only)
  };
  Kind kind = kButton;

  // kMenu: the command as the menu names it (may be empty).
  std::string command;

  // kSchedule: the place, the frame's label with its hours ("Work(08:00-18:00)"), whether the
  // frame was left or entered, the location that selected the place (none when a lock chose it)
  // and the action's position among the frame's actions of that direction (1-based).
  std::string place;
  std::string frame;
  bool leaving = false;
  bool locked = false;
  std::uint32_t cellId = 0;
  std::uint32_t lac = 0;
  int position = 0;
  int count = 0;

  // kTimeLimit: the change undone: the manager's name, the status it was set to, and when
  // ("HH:MM", empty when not known, e.g. after a restart of the program).
  std::string manager;
  std::string status;
  std::string since;

  static CChangeCause Button();
  static CChangeCause Menu(std::string command = {});
  static CChangeCause Schedule(std::string place, std::string frame, bool leaving, bool locked,
                               std::uint32_t cellId, std::uint32_t lac, int position, int count);
  static CChangeCause TimeLimit(std::string manager, std::string status, std::string since);
  static CChangeCause CallStarted();
  static CChangeCause CallEnded();
  static CChangeCause RadioBack();
  static CChangeCause Outside();

  friend bool operator==(const CChangeCause&, const CChangeCause&) = default;
};

// The cause as one sentence in the current language.
std::string DescribeCause(const CChangeCause& cause);

// Makes `cause` the cause of every change requested (and observed by a refresh) on this thread
// while the scope lives. Scopes nest; the innermost counts.
class CChangeCauseScope {
 public:
  explicit CChangeCauseScope(const CChangeCause& cause);
  ~CChangeCauseScope();
  CChangeCauseScope(const CChangeCauseScope&) = delete;
  CChangeCauseScope& operator=(const CChangeCauseScope&) = delete;

  // The innermost scope's cause on this thread; null outside every scope.
  static const CChangeCause* Current();

 private:
  CChangeCause cause_;
  CChangeCauseScope* outer_;
};
