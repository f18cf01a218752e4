#include "app/ChangeCause.h"

#include <utility>

#include "app/TextFormat.h"
#include "app/Texts.h"

namespace {

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

thread_local CChangeCauseScope* t_scope = nullptr;

}  // namespace

CChangeCause CChangeCause::Button() {
  return CChangeCause{};
}

CChangeCause CChangeCause::Menu(std::string command) {
  CChangeCause cause;
  cause.kind = kMenu;
  cause.command = std::move(command);
  return cause;
}

CChangeCause CChangeCause::Schedule(std::string place, std::string frame, bool leaving, bool locked,
                                    std::uint32_t cellId, std::uint32_t lac, int position,
                                    int count) {
  CChangeCause cause;
  cause.kind = kSchedule;
  cause.place = std::move(place);
  cause.frame = std::move(frame);
  cause.leaving = leaving;
  cause.locked = locked;
  cause.cellId = cellId;
  cause.lac = lac;
  cause.position = position;
  cause.count = count;
  return cause;
}

CChangeCause CChangeCause::TimeLimit(std::string manager, std::string status, std::string since) {
  CChangeCause cause;
  cause.kind = kTimeLimit;
  cause.manager = std::move(manager);
  cause.status = std::move(status);
  cause.since = std::move(since);
  return cause;
}

CChangeCause CChangeCause::CallStarted() {
  CChangeCause cause;
  cause.kind = kCallStarted;
  return cause;
}

CChangeCause CChangeCause::CallEnded() {
  CChangeCause cause;
  cause.kind = kCallEnded;
  return cause;
}

CChangeCause CChangeCause::RadioBack() {
  CChangeCause cause;
  cause.kind = kRadioBack;
  return cause;
}

CChangeCause CChangeCause::Outside() {
  CChangeCause cause;
  cause.kind = kOutside;
  return cause;
}

std::string DescribeCause(const CChangeCause& c) {
  switch (c.kind) {
    case CChangeCause::kButton:
      return Text("CAUSE BUTTON");
    case CChangeCause::kMenu:
      if (c.command.empty())
        return Text("CAUSE MENU");
      return FormatText(Text("CAUSE MENU COMMAND"), {c.command});
    case CChangeCause::kSchedule: {
      std::string position = std::to_string(c.position);
      std::string count = std::to_string(c.count);
      if (c.locked) {
        return FormatText(
            Text(c.leaving ? "CAUSE SCHEDULE LEAVE LOCKED" : "CAUSE SCHEDULE ENTER LOCKED"),
            {position, count, c.frame, c.place});
      }
      return FormatText(
          Text(c.leaving ? "CAUSE SCHEDULE LEAVE" : "CAUSE SCHEDULE ENTER"),
          {position, count, c.frame, c.place, std::to_string(c.cellId), std::to_string(c.lac)});
    }
    case CChangeCause::kTimeLimit:
      if (c.since.empty())
        return FormatText(Text("CAUSE TIME LIMIT"), {c.manager, c.status});
      return FormatText(Text("CAUSE TIME LIMIT SINCE"), {c.manager, c.status, c.since});
    case CChangeCause::kCallStarted:
      return Text("CAUSE CALL STARTED");
    case CChangeCause::kCallEnded:
      return Text("CAUSE CALL ENDED");
    case CChangeCause::kRadioBack:
      return Text("CAUSE RADIO BACK");
    case CChangeCause::kOutside:
      return Text("CAUSE OUTSIDE");
  }
  return {};
}

CChangeCauseScope::CChangeCauseScope(const CChangeCause& cause) : cause_(cause), outer_(t_scope) {
  t_scope = this;
}

CChangeCauseScope::~CChangeCauseScope() {
  t_scope = outer_;
}

const CChangeCause* CChangeCauseScope::Current() {
  return t_scope ? &t_scope->cause_ : nullptr;
}
