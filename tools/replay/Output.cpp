// What a replay shows: the timeline as text, its comparison with the recorded day, and the
// picture of the day.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "platform/Text.h"
#include "platform/Time.h"
#include "replay/Replay.h"

namespace replay {

namespace {

constexpr std::int64_t kDayMs = 24LL * 60 * 60 * 1000;

std::string Pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string Location(std::int32_t cell, std::int32_t lac) {
  return std::to_string(static_cast<std::uint32_t>(cell)) + "/" +
         std::to_string(static_cast<std::uint32_t>(lac));
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters have no place in XML 1.0.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n')
          out += c;
        break;
    }
  }
  return out;
}

std::string Num(double v) {
  return platform::Format("%.1f", v);
}

std::int64_t DayStart(std::int64_t ms) {
  platform::SYSTEMTIME t = platform::MsToSystemTime(ms);
  t.wHour = t.wMinute = t.wSecond = t.wMilliseconds = 0;
  return platform::SystemTimeToMs(t);
}

}  // namespace

std::string TimeText(std::int64_t ms) {
  return platform::FormatSystemTime(platform::MsToSystemTime(ms)).substr(11);
}

std::string DateTimeText(std::int64_t ms) {
  return platform::FormatSystemTime(platform::MsToSystemTime(ms));
}

std::string FormatTimeline(const ReplayResult& result) {
  std::ostringstream out;
  for (const TimelineEvent& e : result.events) {
    out << DateTimeText(e.timeMs) << "  ";
    switch (e.kind) {
      case TimelineEvent::kStart:
        out << "start     the program starts";
        break;
      case TimelineEvent::kStop:
        out << "stop      the program ends";
        break;
      case TimelineEvent::kClock:
        out << "clock     the phone's clock was set";
        break;
      case TimelineEvent::kLocation:
        out << "location  " << Pad(Location(e.cellId, e.lac), 18) << e.place;
        break;
      case TimelineEvent::kRadio:
        out << "radio     " << e.text;
        break;
      case TimelineEvent::kEnter:
      case TimelineEvent::kLeave:
        out << (e.kind == TimelineEvent::kEnter ? "enter     " : "leave     ") << Pad(e.place, 18)
            << e.frame;
        if (e.carried)
          out << (e.kind == TimelineEvent::kEnter ? "  (in force when the trace begins)"
                                                  : "  (the trace begins locked)");
        break;
      case TimelineEvent::kAction:
        out << "action    " << Pad(e.place, 18) << Pad(e.frame, 26) << e.text;
        if (e.refused)
          out << "  (not set: switched off in mgr_config)";
        break;
      case TimelineEvent::kFlap:
        out << "flap      " << Pad(e.place, 18) << Location(e.cellId, e.lac) << " for " << e.text
            << " s, absorbed";
        break;
      case TimelineEvent::kLock:
        out << "lock      " << Pad(e.place, 18)
            << (e.text.empty() ? "its frames hold wherever the phone is" : e.text);
        break;
      case TimelineEvent::kUnlock:
        out << "unlock    the location chooses the place again";
        break;
      case TimelineEvent::kData:
        out << "data      the profile set was changed; the frame in force is looked up again";
        break;
    }
    out << "\n";
  }
  return out.str();
}

std::string CompareWithRecord(const ReplayResult& result, bool* same) {
  std::vector<std::string> replayed, recorded;
  // The first change of the profile set on the phone during the recorded time.
  std::optional<std::int64_t> profilesChangedMs;
  for (const TimelineEvent& e : result.events) {
    if (e.timeMs > result.recordedUntilMs)
      break;
    if (e.kind == TimelineEvent::kData && !profilesChangedMs)
      profilesChangedMs = e.timeMs;
    if ((e.kind == TimelineEvent::kEnter || e.kind == TimelineEvent::kLeave) && !e.carried)
      replayed.push_back((e.kind == TimelineEvent::kEnter ? "enter " : "leave ") + e.place + " " +
                         e.frame);
  }
  for (const DayTraceRow& r : result.recorded)
    recorded.push_back((r.event == DayTraceRow::kEnter ? "enter " : "leave ") + r.place + " " +
                       r.frame);
  *same = replayed == recorded;
  std::ostringstream out;
  if (*same) {
    out << "The replay enters and leaves the frames as the recorded day did (" << recorded.size()
        << " changes).\n";
    return out.str();
  }
  out << "The replay differs from the recorded day: " << replayed.size()
      << " frame changes replayed, " << recorded.size() << " recorded.\n";
  std::size_t n = std::max(replayed.size(), recorded.size());
  int shown = 0;
  for (std::size_t i = 0; i < n && shown < 10; ++i) {
    std::string a = i < replayed.size() ? replayed[i] : "(none)";
    std::string b = i < recorded.size() ? recorded[i] : "(none)";
    if (a == b)
      continue;
    out << "  change " << i + 1 << ": replayed " << a << "; recorded " << b << "\n";
    ++shown;
  }
  // The replay has one profile set throughout; the phone had another one before a change.
  if (profilesChangedMs)
    out << "  The profile set was changed on the phone at " << DateTimeText(*profilesChangedMs)
        << "; the replay uses the given one all day, so before that the two may differ.\n";
  return out.str();
}

std::string DrawSvg(const ReplayResult& result) {
  constexpr double kLeft = 150, kHourWidth = 40, kRow = 26, kDayHeader = 40, kTop = 10;
  const double width = kLeft + 24 * kHourWidth + 20;

  struct Span {
    std::int64_t from, to;
    std::string label;
  };
  struct Mark {
    std::int64_t at;
    std::string title;
    bool flap;
  };
  struct Row {
    std::string name;
    std::vector<Span> presence, frames;
    std::vector<Mark> marks;
  };
  struct Day {
    std::int64_t start;
    std::vector<std::string> order;
    std::map<std::string, Row> rows;
    Row& RowOf(const std::string& place) {
      auto [it, added] = rows.try_emplace(place);
      if (added) {
        it->second.name = place;
        order.push_back(place);
      }
      return it->second;
    }
  };
  std::map<std::int64_t, Day> days;
  for (const std::string& d : result.days) {
    platform::SYSTEMTIME t;
    if (platform::ParseSystemTime(d + " 00:00:00", &t)) {
      std::int64_t start = platform::SystemTimeToMs(t);
      days[start].start = start;
    }
  }
  auto dayOf = [&](std::int64_t ms) -> Day& {
    std::int64_t start = DayStart(ms);
    Day& day = days[start];
    day.start = start;
    return day;
  };
  // Adds a span, split at midnights.
  auto addSpan = [&](bool frame, const std::string& place, std::int64_t from, std::int64_t to,
                     const std::string& label) {
    while (from < to) {
      Day& day = dayOf(from);
      std::int64_t end = std::min(to, day.start + kDayMs);
      Row& row = day.RowOf(place);
      (frame ? row.frames : row.presence).push_back({from, end, label});
      from = end;
    }
  };

  std::int64_t endMs = 0;
  for (const auto& [start, day] : days)
    endMs = std::max(endMs, start + kDayMs);
  for (const TimelineEvent& e : result.events)
    endMs = std::max(endMs, e.timeMs);

  // Where the phone was: from each location (or radio off) to the next.
  std::optional<TimelineEvent> at;
  std::map<std::string, std::pair<std::int64_t, TimelineEvent>> open;  // frames by place
  for (const TimelineEvent& e : result.events) {
    switch (e.kind) {
      case TimelineEvent::kLocation:
      case TimelineEvent::kRadio:
        if (at)
          addSpan(false, at->place, at->timeMs, e.timeMs, "");
        at.reset();
        if (e.kind == TimelineEvent::kLocation)
          at = e;
        break;
      case TimelineEvent::kEnter:
        open[e.place] = {e.timeMs, e};
        dayOf(e.timeMs).RowOf(e.place);
        break;
      case TimelineEvent::kLeave: {
        auto it = open.find(e.place);
        if (it != open.end()) {
          addSpan(true, e.place, it->second.first, e.timeMs, it->second.second.frame);
          open.erase(it);
        }
        break;
      }
      case TimelineEvent::kAction:
        dayOf(e.timeMs).RowOf(e.place).marks.push_back(
            {e.timeMs, TimeText(e.timeMs) + " " + e.frame + ": " + e.text, false});
        break;
      case TimelineEvent::kFlap:
        dayOf(e.timeMs).RowOf(e.place).marks.push_back(
            {e.timeMs,
             TimeText(e.timeMs) + " absorbed: " + Location(e.cellId, e.lac) + " for " + e.text +
                 " s",
             true});
        break;
      default:
        break;
    }
  }
  if (at)
    addSpan(false, at->place, at->timeMs, endMs, "");
  for (auto& [place, entered] : open)
    addSpan(true, place, entered.first, endMs, entered.second.frame);

  constexpr double kLegend = 24;
  double height = kTop + kLegend;
  for (const auto& [start, day] : days)
    height += kDayHeader + std::max<std::size_t>(day.order.size(), 1) * kRow + 10;

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Num(width) << "\" height=\""
      << Num(height) << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
      << "<rect x=\"0\" y=\"0\" width=\"" << Num(width) << "\" height=\"" << Num(height)
      << "\" fill=\"#ffffff\"/>\n";
  auto x = [&](const Day& day, std::int64_t ms) {
    return kLeft + static_cast<double>(ms - day.start) / 3600000.0 * kHourWidth;
  };
  double y = kTop;
  for (const auto& [start, day] : days) {
    double rowsHeight = std::max<std::size_t>(day.order.size(), 1) * kRow;
    svg << "<g class=\"day\">\n<text x=\"4\" y=\"" << Num(y + 14) << "\" font-weight=\"bold\">"
        << Escape(DateTimeText(day.start).substr(0, 10)) << "</text>\n";
    for (int h = 0; h <= 24; ++h) {
      double hx = kLeft + h * kHourWidth;
      svg << "<line x1=\"" << Num(hx) << "\" y1=\"" << Num(y + kDayHeader - 8) << "\" x2=\""
          << Num(hx) << "\" y2=\"" << Num(y + kDayHeader + rowsHeight)
          << "\" stroke=\"#dddddd\"/>\n";
      if (h % 2 == 0 && h < 24) {
        svg << "<text x=\"" << Num(hx + 2) << "\" y=\"" << Num(y + kDayHeader - 12) << "\">"
            << platform::Format("%02d:00", h) << "</text>\n";
      }
    }
    double rowY = y + kDayHeader;
    for (const std::string& name : day.order) {
      const Row& row = day.rows.at(name);
      svg << "<g class=\"place\"><text x=\"4\" y=\"" << Num(rowY + 17) << "\">" << Escape(name)
          << "</text>\n";
      for (const Span& s : row.presence) {
        svg << "<rect class=\"presence\" x=\"" << Num(x(day, s.from)) << "\" y=\"" << Num(rowY + 2)
            << "\" width=\"" << Num(std::max(1.0, x(day, s.to) - x(day, s.from))) << "\" height=\""
            << Num(kRow - 4) << "\" fill=\"#cfe3f7\"><title>"
            << Escape(name + " " + TimeText(s.from) + "-" + TimeText(s.to)) << "</title></rect>\n";
      }
      for (const Span& s : row.frames) {
        double fx = x(day, s.from), fw = std::max(1.0, x(day, s.to) - x(day, s.from));
        svg << "<rect class=\"frame\" x=\"" << Num(fx) << "\" y=\"" << Num(rowY + 6)
            << "\" width=\"" << Num(fw) << "\" height=\"" << Num(kRow - 12)
            << "\" fill=\"#3b7dd8\" fill-opacity=\"0.8\"><title>"
            << Escape(s.label + " " + TimeText(s.from) + "-" + TimeText(s.to))
            << "</title></rect>\n";
        // The frame's name where it fits; the hours are in the title.
        std::string name = s.label.substr(0, s.label.rfind('('));
        if (fw > 7.0 * static_cast<double>(name.size()) + 6) {
          svg << "<text x=\"" << Num(fx + 3) << "\" y=\"" << Num(rowY + 17)
              << "\" fill=\"#ffffff\">" << Escape(name) << "</text>\n";
        }
      }
      for (const Mark& m : row.marks) {
        double mx = x(day, m.at);
        if (m.flap) {
          svg << "<path class=\"flap\" d=\"M " << Num(mx) << " " << Num(rowY + kRow - 2)
              << " l -4 -7 l 8 0 z\" fill=\"#e8890c\"><title>" << Escape(m.title)
              << "</title></path>\n";
        } else {
          svg << "<circle class=\"action\" cx=\"" << Num(mx) << "\" cy=\"" << Num(rowY + 4)
              << "\" r=\"3\" fill=\"#c0392b\"><title>" << Escape(m.title) << "</title></circle>\n";
        }
      }
      svg << "</g>\n";
      rowY += kRow;
    }
    svg << "</g>\n";
    y += kDayHeader + rowsHeight + 10;
  }
  // What the marks mean.
  svg << "<g class=\"legend\">"
      << "<rect x=\"" << Num(kLeft) << "\" y=\"" << Num(y + 6)
      << "\" width=\"14\" height=\"10\" fill=\"#cfe3f7\"/>"
      << "<text x=\"" << Num(kLeft + 18) << "\" y=\"" << Num(y + 15) << "\">at the place</text>"
      << "<rect x=\"" << Num(kLeft + 110) << "\" y=\"" << Num(y + 6)
      << "\" width=\"14\" height=\"10\" fill=\"#3b7dd8\"/>"
      << "<text x=\"" << Num(kLeft + 128) << "\" y=\"" << Num(y + 15) << "\">frame in force</text>"
      << "<circle cx=\"" << Num(kLeft + 237) << "\" cy=\"" << Num(y + 11)
      << "\" r=\"3\" fill=\"#c0392b\"/>"
      << "<text x=\"" << Num(kLeft + 245) << "\" y=\"" << Num(y + 15) << "\">action</text>"
      << "<path d=\"M " << Num(kLeft + 300) << " " << Num(y + 16)
      << " l -4 -7 l 8 0 z\" fill=\"#e8890c\"/>"
      << "<text x=\"" << Num(kLeft + 308) << "\" y=\"" << Num(y + 15)
      << "\">flap absorbed</text></g>\n";
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace replay
