#include "ui/DataCommands.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>

#include <mutex>
#include <string>

#include "app/App.h"
#include "app/EventLog.h"
#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/ExceptionDB.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "data/XmlData.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "ui/PageLists.h"
#include "ui/WindowMain.h"

namespace fs = std::filesystem;

namespace {

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// A file dialog needs a display; the offscreen and minimal platforms have none.
bool HasDisplay() {
  QString name = QGuiApplication::platformName();
  return name != "offscreen" && name != "minimal";
}

// How a host file is named to the user: as a device path when it lies on the phone.
std::string DisplayName(const fs::path& file) {
  if (platform::Device* device = platform::Device::Current()) {
    if (auto devicePath = device->DevicePath(file))
      return *devicePath;
  }
  return file.string();
}

}  // namespace

void CDataCommands::Register(CWindowMain* window, CDB* db, std::function<void()> dataChanged) {
  auto commands = std::make_shared<CDataCommands>(window, db, std::move(dataChanged));
  window->RegisterCommand(CMD_BACKUP, [commands] { commands->Backup(); });
  window->RegisterCommand(CMD_RESTORE, [commands] { commands->Restore(); });
  window->RegisterCommand(CMD_CHECK_INTEGRITY, [commands] { commands->CheckIntegrity(); });
  window->RegisterCommand(CMD_FORMAT, [commands] { commands->Format(); });
  window->RegisterCommand(CMD_XML_IMPORT, [commands] { commands->ImportXml(); });
  window->RegisterCommand(CMD_XML_EXPORT, [commands] { commands->ExportXml(); });
  // The event-log page's menu offers the export; once per process, whatever the windows.
  static std::once_flag exportAdded;
  std::call_once(exportAdded, [] {
    CPageEventLog::AddMenuCommand(TEXT_ID("MENU_EVENT_LOG_EXPORT_CSV"),
                                  [](QWidget* page) { ExportEventLog(page); });
  });
}

void CDataCommands::ExportEventLog(QWidget* parent) {
  platform::Device* device = platform::Device::Current();
  CEventLog* log = CEventLog::GetInstance();
  if (!device || !log)
    return;
  fs::path file = device->HostPath(kEventLogCsvFile);
  if (HasDisplay()) {
    QString chosen = QFileDialog::getSaveFileName(
        parent, QString::fromStdString(Text("MENU_EVENT_LOG_EXPORT_CSV")),
        QString::fromStdString(file.string()), "CSV (*.csv)");
    if (chosen.isEmpty())
      return;
    file = fs::path(chosen.toStdString());
  }
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::string error;
  CApp* app = CApp::GetInstance();
  platform::HWND owner = app && app->GetMainWindow() ? app->GetMainWindow()->GetHandle() : 0;
  if (log->ExportCsvToFile(file.string(), &error)) {
    platform::TextBox(owner, FormatText(Text("EVENT LOG EXPORTED"), {DisplayName(file)}));
  } else {
    Trace(TRACE_ERROR, "CDataCommands::ExportEventLog(%s) %s", file.c_str(), error.c_str());
    platform::ErrorBox(owner, "%s",
                       FormatText(Text("ERROR EVENT LOG EXPORT"), {DisplayName(file)}).c_str());
  }
}

std::optional<fs::path> CDataCommands::ChooseFile(bool save) {
  platform::Device* device = platform::Device::Current();
  if (!device)
    return std::nullopt;
  if (!HasDisplay())
    return device->HostPath(kBackupFile);
  QString folder = QString::fromStdString(device->FsRoot().string());
  QString filter = "DB File (*.db)";
  QString chosen =
      save ? QFileDialog::getSaveFileName(window_, QString::fromStdString(Text("MENU_DATA_BACKUP")),
                                          folder, filter)
           : QFileDialog::getOpenFileName(
                 window_, QString::fromStdString(Text("MENU_DATA_RESTORE")), folder, filter);
  if (chosen.isEmpty())
    return std::nullopt;
  return fs::path(chosen.toStdString());
}

void CDataCommands::Backup() {
  Trace(TRACE_TRACE, "CDataCommands::Backup");
  std::optional<fs::path> file = ChooseFile(true);
  if (!file)
    return;
  std::string error;
  if (CXmlData::Backup(*db_, *file, &error)) {
    platform::TextBox(window_->GetHandle(),
                      FormatText(Text("DATA BACKUP DONE"), {DisplayName(*file)}));
  } else {
    Trace(TRACE_ERROR, "CDataCommands::Backup(%s) %s", file->c_str(), error.c_str());
    platform::ErrorBox(window_->GetHandle(), "%s",
                       FormatText(Text("ERROR DATA BACKUP"), {DisplayName(*file)}).c_str());
  }
}

void CDataCommands::Restore() {
  Trace(TRACE_TRACE, "CDataCommands::Restore");
  std::optional<fs::path> file = ChooseFile(false);
  if (!file)
    return;
  if (!platform::QuestionBox(window_->GetHandle(), Text("OPERATION WILL DELETE RECORDS")))
    return;
  std::string error;
  bool restored = false;
  try {
    restored = CXmlData::Restore(*db_, *file, &error);
  } catch (const CExceptionDB& e) {
    error = e.GetMessage();
  }
  if (restored) {
    DataChanged();
    platform::TextBox(window_->GetHandle(),
                      FormatText(Text("DATA RESTORE DONE"), {DisplayName(*file)}));
  } else {
    Trace(TRACE_ERROR, "CDataCommands::Restore(%s) %s", file->c_str(), error.c_str());
    platform::ErrorBox(window_->GetHandle(), "%s",
                       FormatText(Text("ERROR DATA RESTORE"), {DisplayName(*file)}).c_str());
  }
}

CDataCommands::~CDataCommands() {
  // The check reads the database, which outlives the window and these commands.
  if (checker_.joinable())
    checker_.join();
  if (checking_)
    QApplication::restoreOverrideCursor();
}

void CDataCommands::CheckIntegrity() {
  Trace(TRACE_TRACE, "CDataCommands::CheckIntegrity");
  if (checking_) {
    platform::TextBox(window_->GetHandle(), Text("DB CHECK RUNNING"));
    return;
  }
  if (checker_.joinable())
    checker_.join();  // the last check, whose result is shown already
  checking_ = true;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  // The window outlives the thread (these commands, which it owns, wait for it), so posting to
  // it is safe; a result still queued when the window goes is dropped with it.
  CDB* db = db_;
  CWindowMain* window = window_;
  checker_ = std::thread([this, db, window] {
    bool sound = db->CheckIntegrity();
    QMetaObject::invokeMethod(
        window, [this, sound] { CheckDone(sound); }, Qt::QueuedConnection);
  });
}

void CDataCommands::CheckDone(bool sound) {
  checking_ = false;
  QApplication::restoreOverrideCursor();
  if (sound)
    platform::TextBox(window_->GetHandle(), Text("DB NOT ERRORS"));
  else
    platform::ErrorBox(window_->GetHandle(), "%s", Text("DB REPORT ERRORS").c_str());
}

void CDataCommands::Format() {
  Trace(TRACE_TRACE, "CDataCommands::Format");
  if (!platform::QuestionBox(window_->GetHandle(), Text("OPERATION WILL DELETE RECORDS")))
    return;
  try {
    CXmlData::RecreateTables(*db_);
  } catch (const CExceptionDB& e) {
    Trace(TRACE_ERROR, "CDataCommands::Format %s", e.GetMessage().c_str());
    platform::ErrorBox(window_->GetHandle(), "%s", Text("DB NOT ERASED").c_str());
    return;
  }
  DataChanged();
}

void CDataCommands::ImportXml() {
  Trace(TRACE_TRACE, "CDataCommands::ImportXml");
  fs::path file = CXmlData::FilePath();
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    std::string text = Text("ERROR_XML_IMPORT_FILE_NOT_FOUND");
    CXmlData::LogOperation(CXmlData::Operation::kImport, file, false, text);
    platform::ErrorBox(window_->GetHandle(), "%s", text.c_str());
    return;
  }
  if (!platform::QuestionBox(window_->GetHandle(), Text("OPERATION WILL DELETE RECORDS")))
    return;
  // The whole file is read and checked before the database is touched.
  std::string refused;
  try {
    if (!CXmlData::Import(*db_, file, true, &refused)) {
      platform::ErrorBox(window_->GetHandle(), "%s", refused.c_str());
      return;
    }
  } catch (const CExceptionDB& e) {
    Trace(TRACE_ERROR, "CDataCommands::ImportXml %s", e.GetMessage().c_str());
    platform::ErrorBox(window_->GetHandle(), "%s", e.GetMessage().c_str());
    return;
  }
  DataChanged();
  platform::TextBox(window_->GetHandle(),
                    FormatText(Text("MESSAGE_XML_IMPORT_SUCCESS"), {CXmlData::kFileName}));
}

void CDataCommands::ExportXml() {
  Trace(TRACE_TRACE, "CDataCommands::ExportXml");
  try {
    CXmlData::ExportXml(*db_);
  } catch (const CExceptionDB& e) {
    Trace(TRACE_ERROR, "CDataCommands::ExportXml %s", e.GetMessage().c_str());
    platform::ErrorBox(window_->GetHandle(), "%s", e.GetMessage().c_str());
  }
}

void CDataCommands::DataChanged() {
  if (dataChanged_)
    dataChanged_();
}
