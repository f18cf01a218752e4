#include "home/HomeScreen.h"

#include <dlfcn.h>

#include <QDate>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTime>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Mosutil.h"
#include "platform/Screen.h"
#include "platform/Shell.h"
#include "platform/Time.h"
#include "platform/Window.h"
#include "platform/qt/WindowTracker.h"

namespace home {

using namespace platform;
using platform::qt::SendTodayMessage;
using platform::qt::TodayMessage;

namespace {

constexpr int kLogError = 1;
constexpr int kTitleHeight = 26;

void CopyText(char* to, std::size_t size, const std::string& from) {
  std::size_t n = std::min(size - 1, from.size());
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

}  // namespace

std::vector<ItemEntry> RegisteredItems() {
  std::vector<ItemEntry> items;
  HKEY key = 0;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kItemsKey, &key) != ERROR_SUCCESS)
    return items;
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i) {
    std::string sub = std::string(kItemsKey) + "\\" + name;
    ItemEntry entry;
    entry.name = name;
    DWORD enabled = 1;
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, sub, "Enabled", &enabled);
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, sub, "Order", &entry.order);
    if (RegistryGetString(HKEY_LOCAL_MACHINE, sub, "DLL", &entry.dll) != S_OK)
      entry.dll.clear();
    if (enabled)
      items.push_back(std::move(entry));
  }
  RegCloseKey(key);
  std::stable_sort(items.begin(), items.end(), [](const ItemEntry& a, const ItemEntry& b) {
    return a.order != b.order ? a.order < b.order : a.name < b.name;
  });
  return items;
}

// The area the items live in: it answers their requests for the text colour and the watermark.
class CItemArea : public QWidget {
 public:
  explicit CItemArea(CHomeScreen* home) : QWidget(home), home_(home) {}

 protected:
  bool event(QEvent* event) override {
    if (event->type() != TodayMessage::kType)
      return QWidget::event(event);
    auto* message = static_cast<TodayMessage*>(event);
    const HomeTheme& theme = home_->Theme();
    switch (message->msg) {
      case platform::qt::TODAYM_GETCOLOR:
        if (message->wParam == platform::qt::TODAYCOLOR_TEXT) {
          message->result = static_cast<platform::qt::LRESULT>(theme.text.rgba());
        } else if (message->wParam == platform::qt::TODAYCOLOR_HIGHLIGHT) {
          message->result = static_cast<platform::qt::LRESULT>(theme.titleBackground.rgba());
        } else if (message->wParam == platform::qt::TODAYCOLOR_HIGHLIGHTEDTEXT) {
          message->result = static_cast<platform::qt::LRESULT>(theme.titleText.rgba());
        }
        break;
      case platform::qt::TODAYM_DRAWWATERMARK: {
        auto* info = reinterpret_cast<platform::qt::TODAYDRAWWATERMARKINFO*>(message->lParam);
        if (!info || !info->hdc || !info->hwnd)
          break;
        // The home screen's background under the item, in the item's coordinates.
        const QPoint offset = info->hwnd->mapTo(home_, info->rc.topLeft());
        info->hdc->save();
        info->hdc->translate(info->rc.topLeft() - offset);
        home_->PaintBackground(*info->hdc, QRect(offset, info->rc.size()));
        info->hdc->restore();
        message->result = 1;
        break;
      }
      default:
        return QWidget::event(event);
    }
    message->accept();
    return true;
  }

 private:
  CHomeScreen* home_;
};

// Other processes may close, show or bring the home screen to the front. Called on the endpoint
// thread; queues onto the window's.
class CHomeScreen::Sink : public IWindowSink {
 public:
  explicit Sink(CHomeScreen* home) : home_(home) {}
  void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM) override {
    QMetaObject::invokeMethod(
        home_,
        [h = QPointer<CHomeScreen>(home_), msg, wParam] {
          if (h)
            h->OnMessage(msg, wParam);
        },
        Qt::QueuedConnection);
  }

 private:
  CHomeScreen* home_;
};

CHomeScreen::CHomeScreen() : sink_(std::make_unique<Sink>(this)) {
  setWindowTitle("Today");
  setAccessibleName("Today");
  setAttribute(Qt::WA_OpaquePaintEvent);
  // On the phone's own screen (Qt's offscreen platform) the home screen has no frame, so that it
  // covers the screen from its corner.
  if (QGuiApplication::platformName() == "offscreen")
    setWindowFlag(Qt::FramelessWindowHint);
  area_ = new CItemArea(this);
  theme_ = LoadCurrentTheme();
  ApplyScreenSize();

  hwnd_ = RegisterTopLevelWindow(kHomeScreenClass, sink_.get());
  if (hwnd_)
    platform::qt::WindowTracker::Instance().Track(this, hwnd_);
  screenSubscription_ =
      SubscribeHardwareEvent(kScreenEvent, [this](const std::string&, const std::string&) {
        QMetaObject::invokeMethod(
            this, [this] { ApplyScreenSize(); }, Qt::QueuedConnection);
      });
  // Closing a watch does not wait for a callback under way, so the callback reaches the window
  // only through a guard made here and checked on the window's thread.
  RegistryNotifyCallback(
      HKEY_CURRENT_USER, kTodayKey, kTodaySkinValue,
      [home = QPointer<CHomeScreen>(this)](HREGNOTIFY, DWORD, const BYTE*, UINT) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [home] {
              if (home)
                home->ApplyTheme();
            },
            Qt::QueuedConnection);
      },
      0, nullptr, &themeWatch_);

  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
  refresh_.start();
}

CHomeScreen::~CHomeScreen() {
  // No watch, screen change or message reaches the window once these return.
  if (themeWatch_)
    RegistryCloseNotification(themeWatch_);
  UnsubscribeHardwareEvent(screenSubscription_);
  if (hwnd_)
    DestroyTopLevelWindow(hwnd_);
  // The items' windows go before their libraries.
  for (auto& item : items_) {
    delete item->window;
    item->window = nullptr;
  }
  for (auto& item : items_)
    dlclose(item->library);
}

int CHomeScreen::LoadItems() {
  int loaded = 0;
  for (const ItemEntry& entry : RegisteredItems())
    loaded += Load(entry) ? 1 : 0;
  Layout();
  return loaded;
}

void CHomeScreen::Skip(const ItemEntry& entry, const std::string& why) {
  std::fprintf(stderr, "telvane-today: item \"%s\" skipped: %s\n", entry.name.c_str(), why.c_str());
  LogFormateado(kLogError, "Today item %s skipped: %s", entry.name.c_str(), why.c_str());
}

bool CHomeScreen::Load(const ItemEntry& entry) {
  Device* dev = Device::Current();
  if (entry.dll.empty() || !dev) {
    Skip(entry, "no library is registered (value \"DLL\")");
    return false;
  }
  auto path = dev->ConfinedHostPath(entry.dll);
  std::error_code ec;
  if (!path || !std::filesystem::is_regular_file(*path, ec)) {
    Skip(entry, "the library " + entry.dll + " is not on the phone");
    return false;
  }
  void* library = dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* error = dlerror();
    Skip(entry, "cannot load " + entry.dll + ": " + (error ? error : "unknown error"));
    return false;
  }
  auto init = reinterpret_cast<platform::qt::InitializeCustomItemFn>(
      dlsym(library, platform::qt::kTodayItemEntryPoint));
  if (!init) {
    Skip(entry, entry.dll + " has no entry point " + platform::qt::kTodayItemEntryPoint);
    dlclose(library);
    return false;
  }
  auto item = std::make_unique<LoadedItem>();
  item->entry = entry;
  item->library = library;
  CopyText(item->record.szName, sizeof item->record.szName, entry.name);
  CopyText(item->record.szDLLPath, sizeof item->record.szDLLPath, path->string());
  item->record.fEnabled = 1;
  item->record.hinstDLL = library;
  item->window = init(&item->record, area_);
  if (!item->window) {
    Skip(entry, entry.dll + " created no window");
    dlclose(library);
    return false;
  }
  // The first query gives the item's height.
  SendTodayMessage(item->window, platform::qt::WM_TODAYCUSTOM_QUERYREFRESHCACHE,
                   reinterpret_cast<WPARAM>(&item->record), 0);
  item->window->show();
  items_.push_back(std::move(item));
  return true;
}

void CHomeScreen::Refresh() {
  bool resized = false;
  for (auto& item : items_) {
    const UINT before = item->record.cyp;
    if (SendTodayMessage(item->window, platform::qt::WM_TODAYCUSTOM_QUERYREFRESHCACHE,
                         reinterpret_cast<WPARAM>(&item->record), 0)) {
      resized |= item->record.cyp != before;
      item->window->update();
    }
  }
  if (resized)
    Layout();
  // The clock in the title bar.
  update(0, 0, width(), TitleHeight());
}

int CHomeScreen::TitleHeight() const {
  return std::min(width(), height()) >= 480 ? 2 * kTitleHeight : kTitleHeight;
}

void CHomeScreen::Layout() {
  area_->setGeometry(0, TitleHeight(), width(), std::max(0, height() - TitleHeight()));
  int y = 0;
  for (auto& item : items_) {
    const int h = item->record.cyp ? static_cast<int>(item->record.cyp) : item->window->height();
    item->window->setGeometry(0, y, item->window->width(), h);
    y += h;
  }
}

void CHomeScreen::ApplyTheme() {
  theme_ = LoadCurrentTheme();
  for (auto& item : items_) {
    SendTodayMessage(item->window, platform::qt::WM_TODAYCUSTOM_CLEARCACHE, 0, 0);
  }
  update();
}

void CHomeScreen::ApplyScreenSize() {
  ScreenSize size = GetScreenSize();
  QScreen* screen = QGuiApplication::primaryScreen();
  setGeometry(
      QRect(screen ? screen->geometry().topLeft() : QPoint(), QSize(size.width, size.height)));
}

void CHomeScreen::OnMessage(UINT msg, WPARAM wParam) {
  if (msg == WM_CLOSE) {
    close();
  } else if (msg == WM_PLATFORM_SHOW && static_cast<int>(wParam) == SW_HIDE) {
    hide();
  } else if (msg == WM_PLATFORM_SHOW || msg == WM_PLATFORM_FOREGROUND) {
    show();
    raise();
    activateWindow();
  }
}

void CHomeScreen::resizeEvent(QResizeEvent*) {
  Layout();
}

void CHomeScreen::PaintBackground(QPainter& painter, const QRect& area) const {
  QLinearGradient gradient(0, 0, 0, height());
  gradient.setColorAt(0, theme_.backgroundTop);
  gradient.setColorAt(1, theme_.backgroundBottom);
  painter.fillRect(area, gradient);
  if (!theme_.watermark.isNull()) {
    QImage picture = theme_.watermark;
    if (picture.width() > width())
      picture = picture.scaledToWidth(width(), Qt::SmoothTransformation);
    QPoint at((width() - picture.width()) / 2, height() - picture.height());
    painter.save();
    painter.setClipRect(area);
    painter.drawImage(at, picture);
    painter.restore();
  }
}

void CHomeScreen::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  PaintBackground(painter, event->rect());
  const QRect title(0, 0, width(), TitleHeight());
  if (!event->rect().intersects(title))
    return;
  painter.fillRect(title, theme_.titleBackground);
  SYSTEMTIME now = Clock::LocalTime();
  QDate date(now.wYear, now.wMonth, now.wDay);
  QTime time(now.wHour, now.wMinute);
  QLocale locale(QLocale::English);
  QFont font = painter.font();
  font.setPixelSize(TitleHeight() / 2);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(theme_.titleText);
  const QRect text = title.adjusted(6, 0, -6, 0);
  painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, locale.toString(date, "ddd d MMM yyyy"));
  painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, locale.toString(time, "HH:mm"));
}

}  // namespace home
