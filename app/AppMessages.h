// Window messages that the application core posts, with the numbers the system defines.
#pragma once

#include "platform/Types.h"

// Worker statistics, posted (never sent) to the statistics window with lParam 0.
// wParam: commands posted and not yet taken, summed over all workers.
inline constexpr platform::UINT WM_WORKER_PENDING = platform::WM_USER + 100;
// wParam: commands taken, summed over all workers.
inline constexpr platform::UINT WM_WORKER_EXECUTED = platform::WM_USER + 101;
// wParam: live WorkerThread objects.
inline constexpr platform::UINT WM_WORKER_COUNT = platform::WM_USER + 102;

static_assert(WM_WORKER_PENDING == 1124 && WM_WORKER_EXECUTED == 1125 && WM_WORKER_COUNT == 1126);
