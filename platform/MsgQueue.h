// Point-to-point message queues within a process.
//
// A named queue connects every handle created with the same name in this process; an unnamed
// queue connects the handle from CreateMsgQueue with the handles from OpenMsgQueue. Each handle
// is either a reader or a writer. Reading an empty queue that has no writer connected fails at
// once with ERROR_PIPE_NOT_CONNECTED.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/Types.h"

namespace platform {

using HMSGQUEUE = std::uint64_t;

inline constexpr DWORD MSGQUEUE_NOPRECOMMIT = 0x1;
inline constexpr DWORD MSGQUEUE_ALLOW_BROKEN = 0x2;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

struct MSGQUEUEOPTIONS {
  DWORD dwFlags = 0;
  DWORD dwMaxMessages = 0;  // 0 = no limit
  DWORD cbMaxMessage = 0;   // bytes per message
  BOOL bReadAccess = 1;
};

// 0 on failure (a maximum message size of 0).
HMSGQUEUE CreateMsgQueue(std::string_view name, const MSGQUEUEOPTIONS& options);
// Another end of the queue behind `source`.
HMSGQUEUE OpenMsgQueue(HMSGQUEUE source, BOOL readAccess);
BOOL CloseMsgQueue(HMSGQUEUE queue);

// Reads one message into `buffer` (at most `size` bytes), waiting at most `timeoutMs`.
// ERROR_SUCCESS, ERROR_TIMEOUT, ERROR_PIPE_NOT_CONNECTED, ERROR_INSUFFICIENT_BUFFER (the message
// stays queued), ERROR_INVALID_HANDLE.
LONG ReadMsgQueue(HMSGQUEUE queue, void* buffer, DWORD size, DWORD* bytesRead, DWORD timeoutMs);
// Writes one message, waiting at most `timeoutMs` while the queue is full. ERROR_SUCCESS,
// ERROR_TIMEOUT, ERROR_INSUFFICIENT_BUFFER (message too big), ERROR_PIPE_NOT_CONNECTED (no
// reader and the queue does not allow broken connections), ERROR_INVALID_HANDLE.
LONG WriteMsgQueue(HMSGQUEUE queue, const void* data, DWORD size, DWORD timeoutMs);

}  // namespace platform
