// What the benchmarks of the program's layers share besides their figures (Figures.h): for the
// schedule's benchmarks the program set up on a device for a measurement, two places the phone
// moves between, and the time from each move to the START record of the frame it enters, with the
// cell tracker and the schedule engine running as in the program.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Figures.h"
#include "data/StrPeriod.h"

class CDB;

namespace bench {

// Loads the translations and settings that the device console installed on the current device,
// and lets the schedule engine act without waiting for the phone to be awake.
void PrepareSchedule();

// Stores a frame named `name` that covers the whole day at the place.
CStrPeriod AddWholeDay(CDB& db, std::int32_t placeId, const std::string& name);

// Stores "Place 100" and "Place 200", the location areas 100 and 200, each with a whole-day
// frame "Day".
void AddTwoPlaces(CDB& db);

// Runs the cell tracker and the schedule engine and moves the phone `moves` times between the
// areas of AddTwoPlaces, area 100 first, with `move(index, area)`. Returns for each move the time
// from the move to the START record of the frame entered, less the worker's fixed pauses (one
// after the first move, which only enters; two after each later one, which also leaves). Stops
// early with a line that starts with `what` when a record does not come within 10 s.
std::vector<double> MeasureMovesToStart(
    int moves, const std::function<void(int index, std::int32_t area)>& move, const char* what);

}  // namespace bench
