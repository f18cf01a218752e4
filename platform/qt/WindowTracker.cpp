#include "platform/qt/WindowTracker.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <atomic>

#include "platform/HardwareEvents.h"

namespace platform::qt {
namespace {

WindowTracker* g_tracker = nullptr;

// The top-left corner of the primary screen: screen coordinates count from there.
QPoint ScreenOrigin() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().topLeft() : QPoint();
}

bool IsTopLevel(QObject* object) {
  if (!object->isWidgetType())
    return false;
  auto* widget = static_cast<QWidget*>(object);
  if (!widget->isWindow())
    return false;
  Qt::WindowType type = widget->windowType();
  return type != Qt::ToolTip && type != Qt::Desktop &&
         !widget->testAttribute(Qt::WA_DontShowOnScreen);
}

// True when `window` belongs to `modal`: the modal itself, or a window opened from it (a menu or
// box whose parent chain leads to it).
bool BelongsTo(const QWidget* window, const QWidget* modal) {
  for (const QWidget* w = window; w; w = w->parentWidget()) {
    if (w == modal)
      return true;
  }
  return false;
}

// What a finger does before the press reaches the widget: the first enabled widget under the
// point (or one of its parents in the window) that takes focus by click gets it.
void GiveFocus(QWidget* window, const QPoint& local) {
  QWidget* w = window->childAt(local);
  for (; w; w = w->parentWidget()) {
    if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus)) {
      w->setFocus(Qt::MouseFocusReason);
      return;
    }
    if (w->isWindow())
      return;
  }
}

QString KeyText(Qt::Key key) {
  switch (key) {
    case Qt::Key_Return:
      return QStringLiteral("\r");
    case Qt::Key_Tab:
      return QStringLiteral("\t");
    case Qt::Key_Escape:
      return QString(QChar(0x1b));
    default:
      return {};
  }
}

}  // namespace

Qt::Key QtKeyFor(PhoneKey key) {
  switch (key) {
    case PhoneKey::kUp:
      return Qt::Key_Up;
    case PhoneKey::kDown:
      return Qt::Key_Down;
    case PhoneKey::kLeft:
      return Qt::Key_Left;
    case PhoneKey::kRight:
      return Qt::Key_Right;
    case PhoneKey::kTab:
      return Qt::Key_Tab;
    case PhoneKey::kEnter:
      return Qt::Key_Return;
    case PhoneKey::kEscape:
      return Qt::Key_Escape;
    case PhoneKey::kF6:
      return Qt::Key_F6;
    case PhoneKey::kSoftLeft:
      return Qt::Key_Context1;
    case PhoneKey::kSoftRight:
      return Qt::Key_Context2;
  }
  return Qt::Key_unknown;
}

// The sink of a window the tracker registered: other processes may show, hide, bring to the
// front or close it as they would any window. Called on any thread; queues onto the tracker's.
class WindowTracker::Sink : public IWindowSink {
 public:
  explicit Sink(WindowTracker* tracker) : tracker_(tracker) {}
  void SetHandle(HWND hwnd) { hwnd_.store(hwnd); }
  void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM) override {
    QMetaObject::invokeMethod(
        tracker_, [t = tracker_, h = hwnd_.load(), msg, wParam] { t->OnMessage(h, msg, wParam); },
        Qt::QueuedConnection);
  }

 private:
  WindowTracker* tracker_;
  std::atomic<HWND> hwnd_{0};
};

WindowTracker& WindowTracker::Instance() {
  if (!g_tracker)
    g_tracker = new WindowTracker;
  return *g_tracker;
}

WindowTracker::WindowTracker() : QObject(QCoreApplication::instance()) {
  QCoreApplication::instance()->installEventFilter(this);
  inputSubscription_ = ServeInput([this](std::uint64_t id, const InputRequest& request) {
    QMetaObject::invokeMethod(
        this, [this, id, request] { Deliver(id, request); }, Qt::QueuedConnection);
  });
  pictureSubscription_ =
      ServeWindowPictures([this](std::uint64_t id, HWND hwnd, const std::string& file) {
        QMetaObject::invokeMethod(
            this, [this, id, hwnd, file] { SavePicture(id, hwnd, file); }, Qt::QueuedConnection);
      });
  composeSubscription_ =
      ServeScreenComposition([this](std::uint64_t id, const ScreenComposition& composition) {
        QMetaObject::invokeMethod(
            this, [this, id, composition] { Compose(id, composition); }, Qt::QueuedConnection);
      });
}

WindowTracker::~WindowTracker() {
  // No request reaches the tracker once these return; requests still queued are dropped with it.
  UnsubscribeHardwareEvent(inputSubscription_);
  UnsubscribeHardwareEvent(pictureSubscription_);
  UnsubscribeHardwareEvent(composeSubscription_);
  for (auto& [hwnd, tracked] : windows_) {
    if (tracked.sink)
      DestroyTopLevelWindow(hwnd);
  }
  if (g_tracker == this)
    g_tracker = nullptr;
}

void WindowTracker::Track(QWidget* window, HWND hwnd) {
  if (!window || !hwnd)
    return;
  // A window shown before its owner registered it was adopted meanwhile: the owner's
  // registration replaces the tracker's.
  if (HWND adopted = HandleOf(window); adopted && adopted != hwnd)
    Forget(adopted);
  Tracked& tracked = windows_[hwnd];
  tracked.widget = window;
  connect(window, &QObject::destroyed, this, [this, hwnd] { Forget(hwnd); });
  Record(hwnd, window->isVisible());
}

HWND WindowTracker::HandleOf(const QWidget* window) const {
  for (const auto& [hwnd, tracked] : windows_) {
    if (tracked.widget == window)
      return hwnd;
  }
  return 0;
}

void WindowTracker::Adopt(QWidget* window) {
  auto sink = std::make_unique<Sink>(this);
  HWND hwnd = RegisterTopLevelWindow(window->metaObject()->className(), sink.get());
  if (!hwnd)
    return;
  sink->SetHandle(hwnd);
  Tracked& tracked = windows_[hwnd];
  tracked.widget = window;
  tracked.sink = std::move(sink);
  connect(window, &QObject::destroyed, this, [this, hwnd] { Forget(hwnd); });
}

void WindowTracker::Forget(HWND hwnd) {
  auto it = windows_.find(hwnd);
  if (it == windows_.end())
    return;
  // The sink goes only after the registration: no message is delivered to it once that ends.
  if (it->second.sink)
    DestroyTopLevelWindow(hwnd);
  windows_.erase(it);
}

QWidget* WindowTracker::Find(HWND hwnd) const {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : it->second.widget.data();
}

bool WindowTracker::eventFilter(QObject* watched, QEvent* event) {
  bool toTop = false;
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::WindowActivate:
      toTop = true;
      break;
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowDeactivate:
    case QEvent::EnabledChange:
    case QEvent::WindowTitleChange:
    case QEvent::WindowStateChange:
      break;
    default:
      return false;
  }
  if (!IsTopLevel(watched))
    return false;
  auto* window = static_cast<QWidget*>(watched);
  HWND hwnd = HandleOf(window);
  if (!hwnd && event->type() == QEvent::Show) {
    Adopt(window);
    hwnd = HandleOf(window);
  }
  if (hwnd)
    Record(hwnd, toTop);
  return false;
}

void WindowTracker::Record(HWND hwnd, bool toTop) {
  auto it = windows_.find(hwnd);
  if (it == windows_.end() || !it->second.widget)
    return;
  QWidget* window = it->second.widget;
  WindowState state;
  state.title = window->windowTitle().toStdString();
  state.visible = window->isVisible() && !window->isMinimized();
  state.enabled = window->isEnabled();
  QRect geometry = window->geometry().translated(-ScreenOrigin());
  state.x = geometry.x();
  state.y = geometry.y();
  state.width = geometry.width();
  state.height = geometry.height();
  // A menu takes the keys while it is open but does not take the activation from the window it
  // belongs to, which gets none back when the menu closes.
  state.active = state.visible && window->windowType() != Qt::Popup && window->isActiveWindow();
  Tracked& tracked = it->second;
  if (!toTop && tracked.hasRecorded && tracked.recorded == state)
    return;
  SetWindowState(hwnd, state, toTop);
  tracked.recorded = state;
  tracked.hasRecorded = true;
}

void WindowTracker::OnMessage(HWND hwnd, UINT msg, WPARAM wParam) {
  QWidget* window = Find(hwnd);
  if (!window)
    return;
  if (msg == WM_CLOSE) {
    window->close();
  } else if (msg == WM_PLATFORM_SHOW && static_cast<int>(wParam) == SW_HIDE) {
    window->hide();
  } else if (msg == WM_PLATFORM_SHOW || msg == WM_PLATFORM_FOREGROUND) {
    window->show();
    window->raise();
    window->activateWindow();
  }
}

void WindowTracker::DeliverAndAnswer(const std::function<void()>& deliver,
                                     std::function<void(const std::string&)> answer) {
  // 0: delivering, 1: delivered, 2: answered from inside a dialog's loop.
  auto stage = std::make_shared<int>(0);
  QMetaObject::invokeMethod(
      this,
      [stage, answer] {
        if (*stage == 0) {
          *stage = 2;
          answer("");
        }
      },
      Qt::QueuedConnection);
  deliver();
  if (*stage == 2)
    return;
  *stage = 1;
  QMetaObject::invokeMethod(
      this, [answer] { answer(""); }, Qt::QueuedConnection);
}

void WindowTracker::Deliver(std::uint64_t id, const InputRequest& request) {
  QPointer<QWidget> window = Find(request.hwnd);
  if (!window || !window->isVisible() || !window->windowHandle()) {
    CompleteInput(id, "the window is not on the screen");
    return;
  }
  QWidget* modal = QApplication::activeModalWidget();
  if (modal && !BelongsTo(window, modal)) {
    if (request.tap) {
      CompleteInput(id, "the window is behind an open dialog");
      return;
    }
    // The phone's keys go to the dialog that holds the program, as the window system would.
    window = modal;
  }
  auto answer = [id](const std::string& error) { CompleteInput(id, error); };
  if (request.tap) {
    const QPoint global = ScreenOrigin() + QPoint(request.x, request.y);
    const QPoint local = global - window->geometry().topLeft();
    DeliverAndAnswer(
        [window, local, global] {
          if (!window->isActiveWindow() && window->windowType() != Qt::Popup)
            window->activateWindow();
          GiveFocus(window, local);
          QMouseEvent press(QEvent::MouseButtonPress, local, local, global, Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
          QCoreApplication::sendEvent(window->windowHandle(), &press);
          // The press may have closed the window (a menu that ends on it).
          if (!window || !window->windowHandle())
            return;
          QMouseEvent release(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton,
                              Qt::NoButton, Qt::NoModifier);
          QCoreApplication::sendEvent(window->windowHandle(), &release);
        },
        answer);
    return;
  }
  const Qt::Key key = QtKeyFor(request.key);
  DeliverAndAnswer(
      [window, key] {
        // The window in front takes the keys when no window is active, as on the phone.
        if (!window->isActiveWindow() && window->windowType() != Qt::Popup)
          window->activateWindow();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, KeyText(key));
        QCoreApplication::sendEvent(window->windowHandle(), &press);
        if (!window || !window->windowHandle())
          return;
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, KeyText(key));
        QCoreApplication::sendEvent(window->windowHandle(), &release);
      },
      answer);
}

void WindowTracker::SavePicture(std::uint64_t id, HWND hwnd, const std::string& file) {
  QWidget* window = Find(hwnd);
  if (!window || !window->isVisible()) {
    CompleteWindowPicture(id, "the window is not on the screen");
    return;
  }
  bool saved = window->grab().save(QString::fromStdString(file), "PNG");
  CompleteWindowPicture(id, saved ? "" : "cannot write " + file);
}

void WindowTracker::Compose(std::uint64_t id, const ScreenComposition& composition) {
  QImage screen(composition.size.width, composition.size.height, QImage::Format_RGB32);
  screen.fill(Qt::black);
  {
    QPainter painter(&screen);
    for (const ScreenLayer& layer : composition.layers) {
      QImage picture(QString::fromStdString(layer.file));
      if (picture.isNull()) {
        painter.end();
        CompleteScreenComposition(id, "cannot read the picture of a window");
        return;
      }
      painter.drawImage(layer.x, layer.y, picture);
    }
  }
  bool saved = screen.save(QString::fromStdString(composition.file), "PNG");
  CompleteScreenComposition(id, saved ? "" : "cannot write " + composition.file);
}

}  // namespace platform::qt
