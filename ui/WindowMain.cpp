#include "ui/WindowMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <QSystemTrayIcon>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "app/App.h"
#include "app/ChangeCause.h"
#include "app/Ids.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Stopwatch.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "app/Trace.h"
#include "data/StrLocation.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "managers/MobilePhoneMgr.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Mosutil.h"
#include "platform/Notify.h"
#include "platform/Screen.h"
#include "platform/Time.h"
#include "platform/qt/WindowTracker.h"
#include "ui/BarAccessible.h"
#include "ui/BaseWindow.h"
#include "ui/ButtonBT.h"
#include "ui/ButtonBand.h"
#include "ui/ButtonConnections.h"
#include "ui/ButtonOwnCurrentLocation.h"
#include "ui/ButtonPhone.h"
#include "ui/ButtonSpeaker.h"
#include "ui/ButtonWifi.h"
#include "ui/SettingsSheet.h"
#include "ui/SkinDraw.h"

using platform::LPARAM;
using platform::UINT;
using platform::WPARAM;

// Receives the platform window's messages on whatever thread they arrive and queues them onto
// the user-interface thread.
class CWindowMain::Sink : public platform::IWindowSink {
 public:
  explicit Sink(CWindowMain* window) : window_(window) {}
  void OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
    QMetaObject::invokeMethod(
        window_, [w = window_, msg, wParam, lParam] { w->HandleMessage(msg, wParam, lParam); },
        Qt::QueuedConnection);
  }

 private:
  CWindowMain* window_;
};

namespace {

struct MenuEntry {
  int id;
  const char* text;
};

// The entries of the current-location submenu.
const MenuEntry kLocationEntries[] = {
    {40229, TEXT_ID("MENU_MAIN_PANEL_CURRENT_LOCATION_ADD_PROFILE")},
    {40231, TEXT_ID("MENU_MAIN_PANEL_CURRENT_LOCATION_ASSIGN_PROFILE")},
    {40232, TEXT_ID("MENU_MAIN_PANEL_CURRENT_LOCATION_SCHEDULE_PROFILE")},
    {40233, TEXT_ID("MENU_MAIN_PANEL_CURRENT_LOCATION_ACTIONS_PROFILE")},
    {40235, TEXT_ID("MENU_MAIN_PANEL_CURRENT_LOCATION_LOCK")},
    {40237, TEXT_ID("MENU_MAIN_PANEL_CURRENT_LOCATION_UNLOCK")},
};

// The diagnostic commands of the test submenu.
const MenuEntry kTestEntries[] = {
    {40052, TEXT_ID("MENU_TEST_LOWER_BATTERY")}, {40053, TEXT_ID("MENU_TEST_LOWER_SIGNAL")},
    {40054, TEXT_ID("MENU_TEST_LOCATION_1")},    {40115, TEXT_ID("MENU_TEST_LOCATION_2")},
    {40057, TEXT_ID("MENU_TEST_RESTART")},       {40109, TEXT_ID("MENU_TEST_RADIO_CHECK")},
    {40116, TEXT_ID("MENU_TEST_SEND_MAIL")},     {40117, TEXT_ID("MENU_TEST_LIST_PROVIDERS")},
    {40118, TEXT_ID("MENU_TEST_SEND_SMS")},
};

const MenuEntry kDataEntries[] = {
    {40047, TEXT_ID("MENU_DATA_BACKUP")},
    {40048, TEXT_ID("MENU_DATA_RESTORE")},
    {40049, TEXT_ID("MENU_DATA_CHECK_INTEGRITY")},
    {40050, TEXT_ID("MENU_DATA_FORMAT")},
};

}  // namespace

// The skinned panel: the central widget of the window, drawing what the window paints and
// handing taps and F6 back to it.
class CWindowMain::Panel : public CBaseWindow {
 public:
  explicit Panel(CWindowMain* window) : CBaseWindow(window), window_(window) {}

 protected:
  void OnPaint(QPainter& p) override { window_->PaintPanel(p); }
  void OnCommand(int id) override { window_->OnPanelCommand(id); }
  void OnEnterButton() override { window_->Hide(); }
  void resizeEvent(QResizeEvent* event) override {
    CBaseWindow::resizeEvent(event);
    window_->OnSize();
  }
  void paintEvent(QPaintEvent* event) override {
    CStopwatch watch;
    watch.Start();
    CBaseWindow::paintEvent(event);
    watch.Stop();
    CWindowMain::PaintCounter().Add(watch.Elapsed() * 1000.0);
    if (!painted_) {
      // The wall-clock moment the skinned panel was first on screen, for start-up measurements
      // made from outside the process.
      painted_ = true;
      auto now = std::chrono::system_clock::now().time_since_epoch();
      Trace(TRACE_INFO, "CWindowMain first paint at %lld us",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
    }
  }

 private:
  CWindowMain* window_;
  bool painted_ = false;
};

CWindowMain::CWindowMain() : sink_(std::make_unique<Sink>(this)) {
  // The title the phone's task bar and the console's window list show.
  setWindowTitle("Telvane");
  // On the phone's own screen (Qt's offscreen platform) the full-screen window has no frame, so
  // that it covers the screen from its corner.
  if (QGuiApplication::platformName() == "offscreen")
    setWindowFlag(Qt::FramelessWindowHint);
  panel_ = new Panel(this);
  panel_->setAccessibleName("MainWindow");
  setCentralWidget(panel_);
  batteryA11y_ = new CBarAccessible(panel_, "battery");
  signalA11y_ = new CBarAccessible(panel_, "signal");
}

CWindowMain::~CWindowMain() {
  // No request reaches the window once these return.
  if (screenSubscription_)
    platform::UnsubscribeHardwareEvent(screenSubscription_);
  if (screenshotSubscription_)
    platform::UnsubscribeHardwareEvent(screenshotSubscription_);
  if (clockSubscription_)
    platform::UnsubscribeHardwareEvent(clockSubscription_);
  if (CApp* app = CApp::GetInstance()) {
    if (app->GetMainWindow() == this)
      app->SetMainWindow(nullptr);
  }
  if (platform::HWND h = hwnd_.exchange(0))
    platform::DestroyTopLevelWindow(h);
  // The phone's state no longer shows a window that is gone.
  if (platform::Device* dev = platform::Device::Current())
    dev->SetState("main_window", "closed");
}

void CWindowMain::ApplyScreenSize() {
  platform::ScreenSize size = platform::GetScreenSize();
  // Full screen: the window covers the phone's screen from its top-left corner.
  QScreen* screen = QGuiApplication::primaryScreen();
  QRect full(screen ? screen->geometry().topLeft() : QPoint(), QSize(size.width, size.height));
  // A new window already has the geometry (0, 0, 640, 480) without having been sized: it must
  // still be set, or showing it shrinks the window to its contents on a 640x480 screen.
  if (geometry() == full && testAttribute(Qt::WA_Resized))
    return;
  Trace(TRACE_DEBUG, "CWindowMain::ApplyScreenSize(%d, %d)", size.width, size.height);
  setGeometry(full);
}

void CWindowMain::SaveScreenshot(std::uint64_t id, const std::string& file) {
  CStopwatch watch;
  watch.Start();
  // Renders the whole window, the panel and every button, as a paint to the screen does.
  QPixmap picture = grab();
  watch.Stop();
  Trace(TRACE_DEBUG, "CWindowMain::SaveScreenshot grab %.3f ms", watch.Elapsed() * 1000.0);
  bool saved = picture.save(QString::fromStdString(file), "PNG");
  if (!saved)
    Trace(TRACE_ERROR, "CWindowMain::SaveScreenshot(%s) failed", file.c_str());
  platform::CompleteScreenshot(id, saved ? "" : "cannot write " + file);
}

QString CWindowMain::Tr(const char* id) {
  return QString::fromStdString(CTexts::GetInstance()->GetText(id));
}

bool CWindowMain::InitGUI() {
  Trace(TRACE_TRACE, "CWindowMain::InitGUI");
  // The program starts behind whatever the user was looking at: that window gets the front back
  // once the panel is up.
  platform::HWND previous = platform::ActiveWindow();
  if (platform::HWND other = platform::FindWindow(kMainWindowClass)) {
    platform::SetForegroundWindow(other);
    Trace(TRACE_INFO, "La aplicacion ya estaba en ejecucion");
    return false;
  }
  if (!LoadSkin())
    return false;
  ApplyScreenSize();
  CreateMenus();
  CreateButtons();
  platform::HWND h = platform::RegisterTopLevelWindow(kMainWindowClass, sink_.get());
  if (!h) {
    Trace(TRACE_ERROR, "Error registrando clase principal");
    return false;
  }
  hwnd_.store(h);
  platform::qt::WindowTracker::Instance().Track(this, h);
  // The phone's screen can turn or change size, and the console can ask for a picture of the
  // window; both arrive on the endpoint thread and are handled on this one.
  screenSubscription_ = platform::SubscribeHardwareEvent(
      platform::kScreenEvent, [this](const std::string&, const std::string&) {
        QMetaObject::invokeMethod(
            this, [this] { ApplyScreenSize(); }, Qt::QueuedConnection);
      });
  // A change of the phone's clock is its time-change message: the schedule follows the new time
  // (the engine only queues, so it is told on the endpoint thread).
  clockSubscription_ = platform::SubscribeHardwareEvent(
      platform::kClockEvent, [](const std::string&, const std::string&) {
        if (CScheduleEngine* engine = CScheduleEngine::GetInstance())
          engine->TimeChanged();
      });
  screenshotSubscription_ = platform::ServeScreenshots(
      kMainWindowClass, [this](std::uint64_t id, const std::string& file) {
        QMetaObject::invokeMethod(
            this, [this, id, file] { SaveScreenshot(id, file); }, Qt::QueuedConnection);
      });
  if (CApp* app = CApp::GetInstance())
    app->SetMainWindow(this);
  show();
  shown_ = true;
  RecordVisibility();
  CreateTrayIcon();
  if (place_)
    place_->setFocus();
  UpdateDiagnosticLine();
  RefreshPanel();
  if (previous && previous != h && platform::IsWindow(previous)) {
    // Queued so that the request follows the panel's own activation rather than racing it.
    QMetaObject::invokeMethod(
        this, [previous] { platform::SetForegroundWindow(previous); }, Qt::QueuedConnection);
  }
  return true;
}

void CWindowMain::CreateTrayIcon() {
  if (CRegistrySettings::Instance()->GetDWORD(kTrayIconSetting) == 0)
    return;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    // A desktop (or the phone's own screen) without a notification area: the program is still
    // useful without the icon, so it starts and says why the icon is missing.
    Trace(TRACE_WARNING, "CWindowMain: no notification area, starting without the tray icon");
    return;
  }
  QIcon icon;
  if (const QImage* image = LoadSkinImage("mobilephone.png"))
    icon = QIcon(
        QPixmap::fromImage(image->scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  tray_ = new QSystemTrayIcon(icon, this);
  tray_->setToolTip(windowTitle());
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
      HandleMessage(WM_TRAY_ICON, kTrayIconId, kTrayLeftButtonUp);
  });
  tray_->show();
}

void CWindowMain::OpenSettings(int page, const std::function<void(CSettingsSheet&)>& prepare) {
  CSettingsSheet::Open(
      this, [this] { ApplyTrayIconSetting(); }, page, prepare);
}

void CWindowMain::ApplyTrayIconSetting() {
  delete tray_;
  tray_ = nullptr;
  CreateTrayIcon();
}

bool CWindowMain::LoadSkin() {
  skin_ = CSkin::CreateForScreen();
  if (skin_->GetLoadResult() != CSkin::LoadResult::kLoaded) {
    // Without its skin the program cannot show its panel: it says where it looked and ends.
    std::string text = skin_->GetLoadErrorText();
    Trace(TRACE_ERROR, "CWindowMain::LoadSkin %s", text.c_str());
    platform::ErrorBox(0, "%s", text.c_str());
    std::fflush(nullptr);
    std::_Exit(0);
  }
  SetSkinImageFolder(skin_->GetSkinFolder());
  backgroundBitmap_ =
      QImage(QString::fromStdString(platform::GetCurrentDirectory() + "/mainwindow_bg.jpg"));
  // The bar icons every skin falls back on.
  LoadSkinImage("battery.png");
  LoadSkinImage("signal.png");
  ReadLayout();
  return true;
}

void CWindowMain::ReadLayout() {
  if (pugi::xml_node layout = skin_->GetLayoutNode()) {
    if (pugi::xml_node n = skin_->SelectNode(layout, "./image[@id='background']"))
      skin_->ReadImage(background_, n);
    if (pugi::xml_node n = layout.child("DownTextSate"))
      skin_->ReadTextLabel(downText_, n);
  }
  battery_.SetReader(skin_.get());
  signal_.SetReader(skin_.get());
  skin_->GetBarConfig(battery_, "battery");
  skin_->GetBarConfig(signal_, "signal");
}

void CWindowMain::CreateButtons() {
  auto plain = [](const char* skinId, int id, const char* caption, const char* file) {
    ButtonParams p;
    p.skinId = skinId;
    p.controlId = id;
    p.captionId = caption;
    p.off = p.on = p.disabled = file;
    return p;
  };
  CSkin* skin = skin_.get();
  place_ = new CButtonOwnCurrentLocation(panel_, panel_, skin);
  auto* connections = new CButtonConnections(panel_, panel_, skin);
  auto* band = new CButtonBand(panel_, panel_, skin);
  auto* hide = new CButtonOwnDrawImage(panel_, panel_, skin,
                                       plain("hide", CMD_HIDE_BUTTON, "HIDE BUTTON", "hide.png"));
  auto* refresh = new CButtonOwnDrawImage(
      panel_, panel_, skin, plain("refresh", CMD_REFRESH, "REFRESH BUTTON", "refresh.png"));
  auto* wifi = new CButtonWifi(panel_, panel_, skin);
  auto* bt = new CButtonBT(panel_, panel_, skin);
  auto* speaker = new CButtonSpeaker(panel_, panel_, skin);
  auto* phone = new CButtonPhone(panel_, panel_, skin);
  struct Entry {
    CButtonOwnDrawImage* button;
    int mgrId;
  } entries[] = {{place_, MGR_ID_RIL}, {connections, MGR_ID_CONNECTIONS},
                 {band, MGR_ID_BAND},  {hide, -1},
                 {refresh, -1},        {wifi, MGR_ID_WIFI},
                 {bt, MGR_ID_BT},      {speaker, MGR_ID_SPEAKER},
                 {phone, MGR_ID_PHONE}};
  for (const Entry& e : entries) {
    e.button->Create();
    panel_->AddButton(e.button);
    buttons_.push_back(e.button);
    if (CMgr* mgr = e.mgrId >= 0 ? CMgr::GetMgr(e.mgrId) : nullptr) {
      e.button->Listen(mgr);
      mgr->RefreshStatus(1);
    }
  }
}

void CWindowMain::OnSize() {
  if (!skin_)
    return;
  skin_->DetectScreen();
  bool reloaded = false;
  if (skin_->NeedsReload()) {
    // Another screen class: its own skin file and images, and so its own layout even when the
    // orientation stayed.
    skin_->LoadSkin();
    SetSkinImageFolder(skin_->GetSkinFolder());
    reloaded = true;
  }
  int w = panel_->width();
  int h = panel_->height();
  platform::ScreenSize screen = platform::GetScreenSize();
  if (screen.width > 0 && screen.height > 0) {
    w = screen.width;
    h = screen.height;
  }
  // A screen smaller than its class's own size takes everything at the skin's fit.
  auto fit = [this](int length) { return skin_->Fit(length); };
  if (h > w) {
    panel_->SetDefaultButtonSize(fit(60), fit(65));
    panel_->SetScale(h == 640 ? 2 : 1);
  } else if (w == h) {
    panel_->SetDefaultButtonSize(fit(40), fit(45));
    panel_->SetScale(1);
  } else if (h == 480) {
    panel_->SetDefaultButtonSize(60, 65);
    panel_->SetScale(2);
  } else {
    panel_->SetDefaultButtonSize(fit(40), fit(45));
    panel_->SetScale(1);
  }
  panel_->SetBottomBand(fit(25));
  int orientation = skin_->GetScreenOrientation();
  // A screen of another size in the same orientation needs the buttons placed again as much as
  // a turn does: they are placed from the bottom up, so the old places would leave some outside
  // a smaller window.
  bool turned = orientation != lastOrientation_ || reloaded;
  if (turned || laidOutSize_ != QSize(w, h)) {
    if (turned)
      Trace(TRACE_DEBUG, "Cambio de orientacion");
    else
      Trace(TRACE_DEBUG, "CWindowMain::OnSize(%d, %d) lays the buttons out again", w, h);
    lastOrientation_ = orientation;
    laidOutSize_ = QSize(w, h);
    ReadLayout();
    panel_->ReorderShell();
  }
  panel_->update();
}

void CWindowMain::OnPanelCommand(int id) {
  OnCommand(id);
}

CButtonOwnDrawImage* CWindowMain::FindButton(int controlId) const {
  for (CButtonOwnDrawImage* button : buttons_) {
    if (button->GetId() == controlId)
      return button;
  }
  return nullptr;
}

void CWindowMain::PaintPanel(QPainter& p) {
  CStopwatch watch;
  watch.Start();
  QRect all = panel_->rect();
  if (!backgroundBitmap_.isNull())
    p.drawImage(all, backgroundBitmap_);
  else
    p.fillRect(all, Qt::white);
  if (const QImage* bg = background_.file.empty() ? nullptr : LoadSkinImage(background_.file)) {
    const SkinPosition& bp = background_.position;
    p.drawImage(QRect(bp.x >= 0 ? bp.x : 0, bp.y >= 0 ? bp.y : 0, bp.cx >= 0 ? bp.cx : all.width(),
                      bp.cy >= 0 ? bp.cy : all.height()),
                *bg);
  }
  CRilMgr* ril = CRilMgr::GetInstance();
  CMobilePhoneMgr* phone = CMobilePhoneMgr::GetInstance();
  bool external = phone && phone->IsOnExternalPower();
  int battery = ril ? ril->GetBatteryPercent() : 0;
  int signal = ril ? ril->GetSignalPercent() : 0;
  batteryRects_ = CBarPainter::DrawBattery(p, battery_, battery, external);
  signalRects_ = CBarPainter::DrawSignal(p, signal_, signal);
  // The bars' accessible names read the levels just drawn.
  batteryA11y_->Set(batteryRects_.frame, Tr("PANEL BATTERY"), battery);
  signalA11y_->Set(signalRects_.frame, Tr("PANEL SIGNAL"), signal);
  if (!diagnosticText_.isEmpty()) {
    p.setFont(SkinQFont("Tahoma", 12, 700));
    p.setPen(Qt::black);
    p.drawText(QRect(2, 2, all.width() - 4, 14), Qt::AlignLeft | Qt::AlignVCenter, diagnosticText_);
  }
  const SkinPosition& dp = downText_.position;
  if (dp.cx > 0 && dp.cy > 0 && !panel_->GetBottomText().empty()) {
    const SkinFont& f = downText_.font;
    p.setFont(SkinQFont(f.family, f.size >= 0 ? f.size : 12, f.bold >= 0 ? f.bold : 400));
    p.setPen(f.color.r >= 0 ? ToQColor(f.color) : QColor(Qt::black));
    QRect box(dp.x, dp.y, dp.cx, dp.cy);
    p.drawText(box, Qt::AlignCenter,
               p.fontMetrics().elidedText(QString::fromStdString(panel_->GetBottomText()),
                                          Qt::ElideRight, box.width()));
  }
  watch.Stop();
  Trace(TRACE_TRACE, "CWindowMain::OnPaint %.3f ms", watch.Elapsed() * 1000.0);
}

void CWindowMain::CreateMenus() {
  QMenuBar* bar = menuBar();
  bar->clear();
  bar->setAccessibleName(Tr("MENU_MENU"));
  QAction* hide = bar->addAction(Tr("MENU_HIDE"));
  connect(hide, &QAction::triggered, this, [this] { OnCommand(CMD_HIDE); });
  QMenu* menu = bar->addMenu(Tr("MENU_MENU"));
  auto add = [this](QMenu* m, int id, const char* text) {
    QAction* a = m->addAction(Tr(text));
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
  };
  add(menu, CMD_PAGE_MAIN, "PAGE MAIN");
  QMenu* location = menu->addMenu(Tr("MENU_MAIN_PANEL_CURRENT_LOCATION"));
  for (const auto& e : kLocationEntries)
    add(location, e.id, e.text);
  QMenu* test = menu->addMenu(Tr("TEST"));
  for (const auto& e : kTestEntries)
    add(test, e.id, e.text);
  QMenu* beam = test->addMenu(Tr("BEAM"));
  add(beam, 40111, "ON");
  add(beam, 40112, "OFF");
  QMenu* forwarding = test->addMenu(Tr("CALL FORWARDING"));
  add(forwarding, 40094, "OFF");
  add(forwarding, 40095, "ON");
  QMenu* volume = test->addMenu(Tr("VOLUME_LEVEL"));
  for (int level = 0; level <= 5; ++level) {
    int id = 40127 + level;
    QAction* a = volume->addAction(QString("%1 %").arg(level * 20));
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
  }
  add(test, 40133, "BACKLIGHT");
  add(test, 40135, "TODAY THEME");
  add(test, 40136, "RING TONE");
  add(test, 40223, "MEMORY");
  add(test, 40224, "MENU LOCATION REPORT");
  QMenu* data = menu->addMenu(Tr("MENU_DATA"));
  for (const auto& e : kDataEntries)
    add(data, e.id, e.text);
  QMenu* xml = data->addMenu(Tr("MENU_DATA_XML"));
  add(xml, 40059, "MENU_DATA_XML_IMPORT");
  add(xml, 40060, "MENU_DATA_XML_EXPORT");
  menu->addSeparator();
  add(menu, CMD_ABOUT, "ABOUT TITLE");
  add(menu, CMD_HELP, "MENU_HELP_TEXT");
  add(menu, CMD_EXIT, "EXIT");
}

void CWindowMain::RegisterCommand(int id, std::function<void()> handler) {
  commands_[id] = std::move(handler);
}

void CWindowMain::RegisterMessage(UINT msg, std::function<void(WPARAM, LPARAM)> handler) {
  messages_[msg] = std::move(handler);
}

void CWindowMain::AddTimerTarget(ITimerNotificationTarget* target) {
  timerTargets_.push_back(target);
}

void CWindowMain::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case platform::WM_COMMAND:
      OnCommand(static_cast<int>(wParam & 0xFFFF));
      break;
    case platform::WM_CLOSE:
      if (OnClose(false)) {
        quitting_ = true;
        QApplication::quit();
      }
      break;
    case WM_TIMER_NOTIFICATION:
      OnTimerNotification(static_cast<int>(wParam), static_cast<int>(lParam));
      break;
    case WM_IDLE_NOTIFICATION:
      OnIdleNotification();
      break;
    case WM_ITEM_REGISTER:
      OnItemRegister(static_cast<platform::HWND>(wParam));
      break;
    case WM_TRAY_ICON:
      if (lParam == kTrayLeftButtonUp)
        ShowToFront();
      break;
    case WM_DIAGNOSTIC_COUNTER_1:
      counter1_ = static_cast<int>(wParam);
      UpdateDiagnosticLine();
      break;
    case WM_DIAGNOSTIC_COUNTER_2:
      counter2_ = static_cast<int>(wParam);
      UpdateDiagnosticLine();
      break;
    case platform::WM_PLATFORM_SHOW:
      if (static_cast<int>(wParam) == platform::SW_HIDE) {
        Hide();
      } else {
        ShowToFront();
      }
      break;
    case platform::WM_PLATFORM_FOREGROUND:
      ShowToFront();
      break;
    default:
      if (auto it = messages_.find(msg); it != messages_.end())
        it->second(wParam, lParam);
      break;
  }
}

std::string CWindowMain::MenuText(int id) const {
  // The entry's path through the submenus as shown ("Test > Beam > On"), searched depth first.
  std::function<std::string(const QList<QAction*>&)> find =
      [&find, id](const QList<QAction*>& actions) -> std::string {
    for (QAction* a : actions) {
      std::string text = a->text().remove('&').toStdString();
      if (a->menu()) {
        std::string inner = find(a->menu()->actions());
        if (!inner.empty())
          return text.empty() ? inner : text + " > " + inner;
      } else if (a->data().isValid() && a->data().toInt() == id) {
        return text;
      }
    }
    return {};
  };
  std::string path = find(menuBar()->actions());
  // The top menu ("Menu") says nothing.
  std::string top = CTexts::GetInstance()->GetText("MENU_MENU") + " > ";
  return path.rfind(top, 0) == 0 ? path.substr(top.size()) : path;
}

void CWindowMain::OnCommand(int id) {
  Trace(TRACE_TRACE, "CWindowMain::OnCommand(%d)", id);
  // What a menu command switches is logged as that command's doing; the feature buttons' ids
  // are below the menus' and keep the default cause, a change by hand on the main window.
  std::optional<CChangeCauseScope> cause;
  if (id >= kFirstMenuCommand)
    cause.emplace(CChangeCause::Menu(MenuText(id)));
  if (auto it = commands_.find(id); it != commands_.end()) {
    it->second();
    return;
  }
  switch (id) {
    case CMD_HIDE:
    case CMD_HIDE_BUTTON:
      Hide();
      break;
    case CMD_EXIT:
      closing_.store(true);
      platform::PostMessage(GetHandle(), platform::WM_CLOSE, 0, 0);
      break;
    case CMD_PAGE_MAIN:
      OpenSettings(CSettingsSheet::kPageMain);
      break;
    case CMD_TEST_RESTART:
      if (CApp* app = CApp::GetInstance())
        app->RequestExit();
      break;
    default:
      // Every command of the menus has a handler; one that reaches here cannot be carried out,
      // and the user is told so.
      Trace(TRACE_DEBUG, "CWindowMain::OnCommand(%d) not handled", id);
      platform::TextBox(GetHandle(), CTexts::GetInstance()->GetText("COMMAND NOT AVAILABLE"));
      break;
  }
}

void CWindowMain::OnTimerNotification(int id, int param) {
  Trace(TRACE_TRACE, "CWindowMain::OnTimerNotification(%d, %d)", id, param);
  for (ITimerNotificationTarget* target : timerTargets_)
    target->DispatchTimerNotification(id, param);
}

void CWindowMain::OnIdleNotification() {
  Trace(TRACE_TRACE, "CWindowMain::OnIdleNotification");
  if (idleHandler_)
    idleHandler_();
}

void CWindowMain::OnItemRegister(platform::HWND item) {
  CApp* app = CApp::GetInstance();
  if (!app || !app->IsGuiInitialized())
    return;
  todayHwnd_.store(item);
  CMgr::SendStatusToPlugin();
  if (item)
    platform::PostMessage(item, WM_ITEM_PLACE_CHANGED, 0, 0);
}

bool CWindowMain::OnClose(bool systemRequest) {
  if (closing_.load() && !systemRequest) {
    if (closeWithoutAsking_.load())
      return true;
    if (platform::QuestionBox(GetHandle(),
                              CTexts::GetInstance()->GetText("MAIN_PANEL_CONFIRM_CLOSE"))) {
      return true;
    }
    closing_.store(false);
    return false;
  }
  // A close request from the system closes the program only when the settings allow it.
  return CRegistrySettings::Instance()->GetDWORD("allow_windows_close_tlv") != 0;
}

CPerfCounter& CWindowMain::PaintCounter() {
  static CPerfCounter counter;
  return counter;
}

void CWindowMain::closeEvent(QCloseEvent* event) {
  if (quitting_ || OnClose(true)) {
    quitting_ = true;
    event->accept();
    QApplication::quit();
  } else {
    event->ignore();
  }
}

void CWindowMain::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_F6:
    case Qt::Key_Context1:
      // F6 and the left soft key ("Hide") hide the program (the panel also hides it when F6 is
      // let go over it; hiding twice does nothing more).
      OnCommand(CMD_HIDE);
      break;
    case Qt::Key_Context2:
      // The right soft key opens the menu.
      for (QAction* action : menuBar()->actions()) {
        if (action->menu()) {
          menuBar()->setActiveAction(action);
          break;
        }
      }
      break;
    default:
      QMainWindow::keyPressEvent(event);
      break;
  }
}

void CWindowMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::ActivationChange)
    return;
  if (isActiveWindow()) {
    // An activation that arrives after a Hide is stale: the window is not on screen.
    if (!isVisible())
      return;
    shown_ = true;
    // An open dialog stays in front of the window it belongs to.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this)
      modal->activateWindow();
    RecordVisibility();
  } else if (!isMinimized() && !shown_ && isVisible()) {
    // Left behind after a Hide: the window does not stay on screen under another program.
    hide();
    RecordVisibility();
  }
}

void CWindowMain::Hide() {
  shown_ = false;
  hide();
  RecordVisibility();
}

void CWindowMain::ShowToFront() {
  shown_ = true;
  show();
  raise();
  activateWindow();
  // Shown again, the panel starts from the current-location panel as it did at start-up.
  if (place_)
    place_->setFocus();
  RecordVisibility();
}

void CWindowMain::RecordVisibility() {
  // The phone's state shows whether the program's window is on screen.
  if (platform::Device* dev = platform::Device::Current()) {
    dev->SetState("main_window", shown_ ? "shown" : "hidden");
  }
}

void CWindowMain::SendFeatureState(int mgrId, int status) {
  if (platform::HWND item = todayHwnd_.load()) {
    platform::PostMessage(item, WM_ITEM_FEATURE_STATE, static_cast<WPARAM>(mgrId), status);
  }
  RequestPanelRefresh();
}

void CWindowMain::SendLocation(int first, int second) {
  if (platform::HWND item = todayHwnd_.load()) {
    platform::PostMessage(item, WM_ITEM_LOCATION, static_cast<WPARAM>(first), second);
  }
  RequestPanelRefresh();
}

void CWindowMain::RequestPanelRefresh() {
  // Any thread: one refresh is queued at a time, and it reads the latest state.
  panelRefresh_.Request();
}

void CWindowMain::RefreshPanel() {
  // The buttons follow their managers themselves; the panel's texts and the bars are read here.
  if (place_)
    place_->RefreshPlace();
  panel_->update();
}

void CWindowMain::PublishPlace(const std::string& place, const std::string& frame) {
  CRegistrySettings* settings = CRegistrySettings::Instance();
  settings->SetString("current_place", place);
  settings->SetString("current_frame", frame);
  if (platform::HWND item = todayHwnd_.load()) {
    platform::PostMessage(item, WM_ITEM_PLACE_CHANGED, 0, 0);
  }
  RequestPanelRefresh();
}

void CWindowMain::RefreshNotificationDiagnostics() {
  QMetaObject::invokeMethod(
      this, [this] { UpdateDiagnosticLine(); }, Qt::QueuedConnection);
}

void CWindowMain::SetCloseWithoutAsking() {
  closeWithoutAsking_.store(true);
  closing_.store(true);
}

void CWindowMain::UpdateDiagnosticLine() {
  if (!CRegistrySettings::DebugInfo()) {
    diagnosticText_.clear();
    panel_->update();
    return;
  }
  std::vector<platform::HNOTIFY> handles;
  platform::CeGetUserNotificationHandles(&handles, 500);
  platform::SYSTEMTIME now = platform::Clock::LocalTime();
  diagnosticText_ = QString::asprintf("%d-%d-%d[%02d-%02d:%02d:%02d]", counter1_, counter2_,
                                      static_cast<int>(handles.size()), now.wDay, now.wHour,
                                      now.wMinute, now.wSecond);
  panel_->update();
}
