// cell, signal and battery: where the phone is, how well it hears the network and how full its
// battery is, as the radio and the power service would report them. Each change reaches the
// running program through the radio's notifications (platform/Ril.h) or the published battery
// value (platform/PowerStatus.h).
#include <iostream>
#include <limits>

#include "console/Console.h"
#include "platform/PowerStatus.h"
#include "platform/Ril.h"

namespace console {
namespace {

using namespace platform;

// A number in 0..0xFFFFFFFF, as cell identifiers and location area codes are.
std::optional<DWORD> ParseWord(const std::string& text) {
  auto value = ParseInt(text);
  if (!value || *value < 0 || *value > std::numeric_limits<DWORD>::max())
    return std::nullopt;
  return static_cast<DWORD>(*value);
}

// A signal value in dBm.
std::optional<int> ParseDbm(const std::string& text) {
  auto value = ParseInt(text);
  if (!value || *value < -1000 || *value > 1000)
    return std::nullopt;
  return static_cast<int>(*value);
}

int RunCell(const Args& args) {
  Args rest = args;
  bool quiet = TakeFlag(rest, "--quiet");
  if (rest.size() == 1 || rest.size() > 2 || (quiet && rest.empty()))
    return Usage("cell");
  if (rest.size() == 2) {
    auto cellId = ParseWord(rest[0]);
    if (!cellId)
      return Fail("not a cell identifier \"" + rest[0] + "\" (0 to 4294967295)");
    auto lac = ParseWord(rest[1]);
    if (!lac)
      return Fail("not a location area code \"" + rest[1] + "\" (0 to 4294967295)");
    if (!ril::SetServingCell(*cellId, *lac, !quiet))
      return Fail("the serving cell could not be changed");
  }
  ril::ServingCell cell = ril::GetServingCell();
  std::cout << cell.cellId << "/" << cell.lac << "\n";
  return 0;
}

int RunSignal(const Args& args) {
  if (args.size() == 2 || args.size() > 3)
    return Usage("signal");
  if (!args.empty()) {
    ril::Signal signal = ril::GetSignal();
    auto strength = ParseDbm(args[0]);
    if (!strength)
      return Fail("not a signal strength \"" + args[0] + "\" (dBm)");
    signal.strength = *strength;
    if (args.size() == 3) {
      auto minimum = ParseDbm(args[1]);
      auto maximum = ParseDbm(args[2]);
      if (!minimum || !maximum || *minimum >= *maximum)
        return Fail("not a signal range \"" + args[1] + " " + args[2] +
                    "\" (MIN below MAX, in dBm)");
      signal.minimum = *minimum;
      signal.maximum = *maximum;
    }
    signal.params = RIL_PARAM_SQ_ALL;
    if (!ril::SetSignal(signal))
      return Fail("the signal could not be changed");
  }
  ril::Signal signal = ril::GetSignal();
  std::cout << signal.strength << "/" << signal.minimum << "/" << signal.maximum << "\n";
  return 0;
}

int RunBattery(const Args& args) {
  Args rest = args;
  bool ac = TakeFlag(rest, "--ac");
  bool noAc = TakeFlag(rest, "--no-ac");
  if (rest.size() > 1 || (ac && noAc) || ((ac || noAc) && rest.empty()))
    return Usage("battery");
  if (!rest.empty()) {
    auto percent = ParseInt(rest[0]);
    if (!percent || *percent < 0 || *percent > 100)
      return Fail("not a battery level \"" + rest[0] + "\" (0 to 100)");
    bool onMains = ac || (!noAc && GetBatteryState().onMains);
    if (!SetBatteryState(static_cast<int>(*percent), onMains))
      return Fail("the battery level could not be changed");
  }
  BatteryState state = GetBatteryState();
  std::cout << state.percent << "/" << (state.onMains ? "ac" : "battery") << "\n";
  return 0;
}

ConsoleCommand cellCommand(
    "cell", "cell [CELLID LAC [--quiet]]",
    "Shows the serving cell as CELLID/LAC, or moves the phone to another cell. "
    "The radio announces the new cell unless --quiet is given; then only a "
    "request for the cell finds it.",
    RunCell);
ConsoleCommand signalCommand("signal", "signal [STRENGTH [MIN MAX]]",
                             "Shows the signal as STRENGTH/MIN/MAX (dBm), or changes it; the radio "
                             "reports the new signal.",
                             RunSignal);
ConsoleCommand batteryCommand(
    "battery", "battery [PERCENT [--ac|--no-ac]]",
    "Shows the battery as PERCENT/ac or PERCENT/battery, or sets its level "
    "and whether the phone is on external power (unchanged unless given).",
    RunBattery);

}  // namespace
}  // namespace console
