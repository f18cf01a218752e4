// The phone's home screen and the items it hosts: the contract between the home screen
// (telvane-today) and an item library it loads.
//
// An item library exports, with C linkage, `InitializeCustomItem(TODAYLISTITEM*, QWidget*
// parent)`. The home screen calls it once per load with the item's record and the home screen's
// item area as parent; the item creates its window as a child widget of the parent and returns
// it (nullptr when it could not). From then on the two talk by messages sent synchronously on the
// user-interface thread, as TodayMessage events carrying a message number, two parameters and a
// result:
// - home screen -> item: WM_TODAYCUSTOM_QUERYREFRESHCACHE (wParam: the TODAYLISTITEM; result 1
//   when the item must be drawn again, with its new height in `cyp`) and
//   WM_TODAYCUSTOM_CLEARCACHE (the theme changed: drop what was drawn from it);
// - item -> home screen (sent to the item's parent): TODAYM_GETCOLOR (wParam: TODAYCOLOR_*;
//   result: the colour as 0xAARRGGBB) and TODAYM_DRAWWATERMARK (lParam: a
//   TODAYDRAWWATERMARKINFO; the home screen paints its background under the item).
//
// The header is the whole contract: the home screen and the items include it and share no code.
// Threads: everything runs on the home screen's user-interface thread.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QRect>
#include <QWidget>

#include "platform/Types.h"

namespace platform::qt {

using LRESULT = std::intptr_t;

inline constexpr UINT WM_TODAYCUSTOM_CLEARCACHE = WM_USER + 242;
inline constexpr UINT WM_TODAYCUSTOM_QUERYREFRESHCACHE = WM_USER + 243;
inline constexpr UINT TODAYM_GETCOLOR = WM_USER + 100;
inline constexpr UINT TODAYM_DRAWWATERMARK = WM_USER + 101;

// Colours an item may ask for.
inline constexpr WPARAM TODAYCOLOR_TEXT = 0x10000004;
inline constexpr WPARAM TODAYCOLOR_HIGHLIGHT = 0x10000022;
inline constexpr WPARAM TODAYCOLOR_HIGHLIGHTEDTEXT = 0x10000023;

// The name of the entry point an item library exports.
inline constexpr const char* kTodayItemEntryPoint = "InitializeCustomItem";

// The home screen's record of one item, filled from the registry before the item is loaded.
struct TODAYLISTITEM {
  char szName[32] = {};
  DWORD type = 0;
  BOOL fEnabled = 0;
  DWORD grfFlags = 0;
  // Host path of the item library.
  char szDLLPath[260] = {};
  void* hinstDLL = nullptr;
  QWidget* hwndCustom = nullptr;
  // The item's height in pixels, set by the item when it answers a refresh query.
  UINT cyp = 0;
};

// What TODAYM_DRAWWATERMARK paints into: the item's painter and the item's rectangle in the
// item's own coordinates.
struct TODAYDRAWWATERMARKINFO {
  QPainter* hdc = nullptr;
  QRect rc;
  QWidget* hwnd = nullptr;
};

using InitializeCustomItemFn = QWidget* (*)(TODAYLISTITEM* item, QWidget* parent);

// A message between the home screen and an item, delivered with QCoreApplication::sendEvent.
// The event type is a fixed number, so that both sides agree without sharing a registration.
class TodayMessage : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x7D0);
  TodayMessage(UINT msg, WPARAM wParam, LPARAM lParam)
      : QEvent(kType), msg(msg), wParam(wParam), lParam(lParam) {}
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
};

// Sends a message to `to` and returns its result (0 when nobody handled it).
inline LRESULT SendTodayMessage(QWidget* to, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!to)
    return 0;
  TodayMessage message(msg, wParam, lParam);
  message.ignore();
  QCoreApplication::sendEvent(to, &message);
  return message.result;
}

}  // namespace platform::qt
