#include "today/ItemWindow.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <filesystem>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "platform/Screen.h"
#include "platform/Window.h"

namespace today {

using namespace platform;
using platform::qt::LRESULT;
using platform::qt::SendTodayMessage;
using platform::qt::TODAYLISTITEM;
using platform::qt::TodayMessage;

namespace {

constexpr int kFontPixels = 11;
constexpr int kNumbersLeft = 152;
constexpr int kPlaceLineHeight = 10;

// One registry value of Telvane's settings; false when it cannot be read (the caller keeps what
// it had).
bool ReadString(const char* name, std::string* out) {
  return RegistryGetString(HKEY_LOCAL_MACHINE, kSettingsKey, name, out) == S_OK;
}

}  // namespace

// Receives the main window's messages on the endpoint thread and hands them to the window on its
// own thread. The window ends the registration before it goes, so no message outlives it.
class CItemWindow::Sink : public IWindowSink {
 public:
  explicit Sink(CItemWindow* window) : window_(window) {}
  void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
    QMetaObject::invokeMethod(
        window_,
        [w = QPointer<CItemWindow>(window_), msg, wParam, lParam] {
          if (w)
            w->HandleMessage(msg, wParam, lParam);
        },
        Qt::QueuedConnection);
  }

 private:
  CItemWindow* window_;
};

CItemWindow::CItemWindow(TODAYLISTITEM* item, QWidget* parent, const std::string& libraryPath)
    : QWidget(parent), sink_(std::make_unique<Sink>(this)) {
  setObjectName(kItemClass);
  setWindowTitle(kItemClass);
  setAccessibleName(kItemClass);
  // Everything is painted from the buffer: no background of its own under it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(kItemWidth, kItemHeight);

  ScreenSize screen = GetScreenSize();
  std::string resolution = ResolutionFolder(screen.width, screen.height);
  std::string theme;
  ReadString("theme", &theme);
  std::optional<std::string> devicePath;
  if (Device* dev = Device::Current())
    devicePath = dev->DevicePath(libraryPath);
  if (devicePath) {
    imageFolder_ = ImageFolder(*devicePath, theme, resolution);
  } else {
    // A library outside the phone (a build tree): the same rule on the host's path.
    hostFolder_ = true;
    std::filesystem::path folder =
        std::filesystem::path(libraryPath).parent_path() / "themes" / theme;
    if (!resolution.empty())
      folder /= resolution;
    imageFolder_ = folder.string();
  }
  DWORD printPlace = 0;
  if (RegistryGetDWORD(HKEY_LOCAL_MACHINE, kSettingsKey, "today_print_place", &printPlace) == S_OK)
    printPlace_ = printPlace;
  if (item)
    item->cyp = printPlace_ ? kItemHeightWithPlace : kItemHeight;

  hwnd_ = RegisterTopLevelWindow(kItemClass, sink_.get());
  if (!hwnd_)
    ProcesarError("Error creando ventana");
  screenshotSubscription_ =
      ServeScreenshots(kItemClass, [this](std::uint64_t id, const std::string& file) {
        QMetaObject::invokeMethod(
            this, [this, id, file] { SaveScreenshot(id, file); }, Qt::QueuedConnection);
      });
  show();
  update();
}

CItemWindow::~CItemWindow() {
  // Neither a picture request nor a message reaches the window once these return.
  UnsubscribeHardwareEvent(screenshotSubscription_);
  if (hwnd_)
    DestroyTopLevelWindow(hwnd_);
}

LRESULT CItemWindow::QueryRefresh(TODAYLISTITEM* item) {
  if (item)
    item->cyp = printPlace_ ? kItemHeightWithPlace : kItemHeight;
  HWND main = FindWindow(kMainWindowClass);
  CItemState::QueryAnswer answer = state_.OnRefreshQuery(main);
  if (answer.postRegister)
    PostMessage(main, WM_ITEM_REGISTER, static_cast<WPARAM>(hwnd_), 0);
  return answer.refresh ? 1 : 0;
}

void CItemWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ITEM_LOCATION:
      state_.OnLocation(wParam, lParam);
      break;
    case WM_ITEM_FEATURE_STATE:
      state_.OnFeatureState(wParam, lParam);
      break;
    case WM_ITEM_PLACE_CHANGED:
      ReadPlace();
      state_.MarkDirty();
      break;
    default:
      break;
  }
}

void CItemWindow::ReadPlace() {
  ReadString("current_place", &place_);
  ReadString("current_frame", &frame_);
}

bool CItemWindow::event(QEvent* event) {
  if (event->type() != TodayMessage::kType)
    return QWidget::event(event);
  auto* message = static_cast<TodayMessage*>(event);
  switch (message->msg) {
    case platform::qt::WM_TODAYCUSTOM_QUERYREFRESHCACHE:
      message->result = QueryRefresh(reinterpret_cast<TODAYLISTITEM*>(message->wParam));
      break;
    case platform::qt::WM_TODAYCUSTOM_CLEARCACHE:
      // The home screen's theme changed: draw again, with the images read afresh.
      icons_.clear();
      state_.MarkDirty();
      break;
    default:
      return QWidget::event(event);
  }
  message->accept();
  return true;
}

std::string CItemWindow::ImagePath(const char* file) const {
  if (hostFolder_)
    return (std::filesystem::path(imageFolder_) / file).string();
  Device* dev = Device::Current();
  return dev ? dev->HostPath(imageFolder_ + "\\" + file).string() : std::string();
}

const QImage* CItemWindow::Icon(const char* file) {
  if (auto it = icons_.find(file); it != icons_.end())
    return &it->second;
  std::string path = ImagePath(file);
  QImage image(QString::fromStdString(path));
  if (image.isNull()) {
    std::string shown = hostFolder_ ? path : imageFolder_ + "\\" + file;
    if (reported_.insert(shown).second)
      ProcesarError("Error loading %s", shown.c_str());
    return nullptr;
  }
  image = image.convertToFormat(QImage::Format_ARGB32);
  // The colour of pixel (1,1) is transparent.
  if (image.width() > 1 && image.height() > 1) {
    const QRgb key = image.pixel(1, 1);
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        if (line[x] == key)
          line[x] = 0;
      }
    }
  }
  if (image.size() != QSize(kIconSize, kIconSize))
    image = image.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return &icons_.emplace(file, std::move(image)).first->second;
}

void CItemWindow::Render(QImage* target) {
  QPainter painter(target);
  const QRect client(0, 0, target->width(), target->height());
  platform::qt::TODAYDRAWWATERMARKINFO watermark{&painter, client, this};
  if (!SendTodayMessage(parentWidget(), platform::qt::TODAYM_DRAWWATERMARK, 0,
                        reinterpret_cast<LPARAM>(&watermark))) {
    painter.fillRect(client, palette().window());
  }
  if (!state_.BeginPaint())
    return;
  QRgb text = static_cast<QRgb>(SendTodayMessage(parentWidget(), platform::qt::TODAYM_GETCOLOR,
                                                 platform::qt::TODAYCOLOR_TEXT, 0));
  painter.setPen(QColor::fromRgb(text | 0xFF000000u));
  QFont font = QApplication::font();
  font.setPixelSize(kFontPixels);
  font.setWeight(QFont::DemiBold);
  painter.setFont(font);

  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (const QImage* icon = Icon(ImageFor(slot, state_.State(slot))))
      painter.drawImage(QPoint(slot * kIconSize, 1), *icon);
  }
  const int top = 2 * logicalDpiY() / 96;
  painter.drawText(QRect(QPoint(kNumbersLeft, top), client.bottomRight()),
                   Qt::AlignLeft | Qt::AlignTop,
                   QString::asprintf("%d-%d", state_.First(), state_.Second()));
  if (printPlace_) {
    QString line = QString::fromStdString(place_) + " - " + QString::fromStdString(frame_);
    painter.drawText(QRect(0, client.height() - kPlaceLineHeight, client.width(), kPlaceLineHeight),
                     Qt::AlignHCenter | Qt::AlignBottom | Qt::TextDontClip, line);
  }
}

void CItemWindow::paintEvent(QPaintEvent*) {
  // Drawn off screen, then shown at once. At the screen's own depth: a shallower buffer would
  // show the watermark under the item in other shades than around it.
  QImage buffer(size(), QImage::Format_RGB32);
  Render(&buffer);
  QPainter(this).drawImage(0, 0, buffer);
}

void CItemWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return;
  if (HWND main = state_.MainWindow()) {
    ShowWindow(main, SW_SHOW);
    SetForegroundWindow(main);
  }
}

void CItemWindow::SaveScreenshot(std::uint64_t id, const std::string& file) {
  bool saved = grab().save(QString::fromStdString(file), "PNG");
  CompleteScreenshot(id, saved ? "" : "cannot write " + file);
}

}  // namespace today
