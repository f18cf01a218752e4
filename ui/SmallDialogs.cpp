#include "ui/SmallDialogs.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "ui/OptionDialog.h"

#ifndef TELVANE_VERSION
#define TELVANE_VERSION "0"
#endif

namespace {

namespace fs = std::filesystem;

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The ring types in the dialog's order: the caption's text id and the ring script stored for it.
struct RingType {
  const char* captionId;
  const char* script;
};
const RingType kRingTypes[] = {
    {TEXT_ID("RING"), "ring"},
    {TEXT_ID("INCREASING RING"), "ring-increasing"},
    {TEXT_ID("RING ONCE"), "ring-once"},
    {TEXT_ID("VIBRATE"), "vibrate"},
    {TEXT_ID("VIBRATE AND RING"), "vibrate-ring"},
    {TEXT_ID("VIBRATE AFTER RING"), "vibrate-then-ring"},
    {TEXT_ID("NONE"), "none"},
};

// Folders of the phone that hold sound files a ring tone can use.
const char* const kToneFolders[] = {"\\Windows", "\\My Documents"};

}  // namespace

CSmallDialog::CSmallDialog(QWidget* owner, const char* title) : QDialog(owner) {
  QString text = Q(Text(title));
  setWindowTitle(text);
  setAccessibleName(text);
  if (QGuiApplication::platformName() == "offscreen") {
    setWindowFlag(Qt::FramelessWindowHint);
    // The form stands out from the window under it.
    setObjectName("form");
    setStyleSheet("QDialog#form { border: 1px solid palette(mid); }");
  }
}

bool CSmallDialog::Ask() {
  // Without a frame of the desktop's the title heads the form.
  if (windowFlags() & Qt::FramelessWindowHint) {
    if (auto* box = qobject_cast<QBoxLayout*>(layout()); box && !findChild<QLabel*>("title")) {
      auto* title = new QLabel(windowTitle(), this);
      title->setObjectName("title");
      title->setAlignment(Qt::AlignCenter);
      QFont bold = title->font();
      bold.setBold(true);
      title->setFont(bold);
      box->insertWidget(0, title);
    }
  }
  Place();
  QWidget* window = parentWidget() ? parentWidget()->window() : nullptr;
  if (window)
    window->installEventFilter(this);
  bool saved = ExecDisablingOwner(parentWidget(), this) == QDialog::Accepted;
  if (window)
    window->removeEventFilter(this);
  return saved;
}

bool CSmallDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && isVisible())
    Place();
  return QDialog::eventFilter(watched, event);
}

void CSmallDialog::Place() {
  QWidget* window = parentWidget() ? parentWidget()->window() : nullptr;
  if (!window)
    return;
  adjustSize();
  QRect area = window->geometry();
  int width = std::min(area.width(), std::max(sizeHint().width(), area.width() - 16));
  int height = std::min(area.height(), sizeHint().height());
  setGeometry(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2,
              width, height);
}

void CSmallDialog::AddKeys(QBoxLayout* layout, bool editing) {
  auto* row = new QHBoxLayout;
  auto key = [this, row](const char* id, bool accept) {
    auto* button = new QPushButton(Q(Text(id)), this);
    button->setAccessibleName(button->text());
    connect(button, &QPushButton::clicked, this, accept ? &QDialog::accept : &QDialog::reject);
    row->addWidget(button);
    return button;
  };
  if (editing) {
    key(TEXT_ID("SAVE"), true)->setDefault(true);
    key(TEXT_ID("CANCEL"), false);
  } else {
    key(TEXT_ID("CLOSE"), false)->setDefault(true);
  }
  layout->addLayout(row);
}

void CSmallDialog::AddRow(QFormLayout* form, const char* label, QWidget* field) {
  QString text = Q(Text(label));
  field->setAccessibleName(text);
  auto* caption = new QLabel(text, this);
  caption->setBuddy(field);
  form->addRow(caption, field);
}

CDialogSoundLevel::CDialogSoundLevel(QWidget* owner, int level)
    : CSmallDialog(owner, TEXT_ID("DIALOG_SOUND_LEVEL_TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setRange(1, 5);
  slider_->setPageStep(1);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setValue(level >= 1 && level <= 5 ? level : 5);
  AddRow(form, TEXT_ID("VOLUME_LEVEL"), slider_);
  layout->addLayout(form);
  AddKeys(layout, true);
  slider_->setFocus();
}

int CDialogSoundLevel::Level() const {
  return slider_->value();
}

CDialogCallForward::CDialogCallForward(QWidget* owner, const std::string& number)
    : CSmallDialog(owner, TEXT_ID("DIALOG_CALL_FORWARD_TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  number_ = new QLineEdit(QString::fromStdString(number), this);
  number_->setInputMethodHints(Qt::ImhDialableCharactersOnly);
  AddRow(form, TEXT_ID("NUMBER"), number_);
  layout->addLayout(form);
  AddKeys(layout, true);
  number_->setFocus();
}

std::string CDialogCallForward::Number() const {
  return number_->text().trimmed().toStdString();
}

void CDialogCallForward::accept() {
  if (Number().empty()) {
    platform::TextBox(0, Text("PLEASE FILL DATA"));
    return;
  }
  QDialog::accept();
}

CDialogBacklight::CDialogBacklight(QWidget* owner, int battery, int external)
    : CSmallDialog(owner, TEXT_ID("DIALOG_BACKLIGHT_TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  battery_ = new QSpinBox(this);
  battery_->setRange(0, 10);
  battery_->setValue(std::clamp(battery, 0, 10));
  external_ = new QSpinBox(this);
  external_->setRange(0, 10);
  external_->setValue(std::clamp(external, 0, 10));
  AddRow(form, TEXT_ID("DIALOG_BACKLIGHT_BATTERY"), battery_);
  AddRow(form, TEXT_ID("DIALOG_BACKLIGHT_EXTERNAL"), external_);
  layout->addLayout(form);
  AddKeys(layout, true);
  battery_->setFocus();
}

int CDialogBacklight::Battery() const {
  return battery_->value();
}

int CDialogBacklight::External() const {
  return external_->value();
}

CDialogRingTone::CDialogRingTone(QWidget* owner)
    : CSmallDialog(owner, TEXT_ID("DIALOG_RING_TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  type_ = new QComboBox(this);
  for (const RingType& type : kRingTypes)
    type_->addItem(Q(Text(type.captionId)), QString(type.script));
  tone_ = new QComboBox(this);
  std::string current;
  platform::RegistryGetString(platform::HKEY_CURRENT_USER, platform::kRingToneKey,
                              platform::kRingToneSoundValue, &current);
  for (const std::string& tone : ListTones()) {
    tone_->addItem(QString::fromStdString(fs::path(tone).filename().string()),
                   QString::fromStdString(tone));
  }
  int index = tone_->findData(QString::fromStdString(current));
  if (index >= 0)
    tone_->setCurrentIndex(index);
  AddRow(form, TEXT_ID("DIALOG_PROFILES_TYPE"), type_);
  AddRow(form, TEXT_ID("DIALOG_PROFILES_TONE"), tone_);
  layout->addLayout(form);
  auto* play = new QPushButton(Q(Text("DIALOG_PROFILES_PLAY")), this);
  play->setAccessibleName(play->text());
  connect(play, &QPushButton::clicked, this, [this] {
    if (!Tone().empty())
      platform::PlaySoundFile(Tone());
  });
  layout->addWidget(play);
  AddKeys(layout, true);
  type_->setFocus();
}

std::string CDialogRingTone::Script() const {
  return type_->currentData().toString().toStdString();
}

std::string CDialogRingTone::Tone() const {
  return tone_->currentData().toString().toStdString();
}

std::vector<std::string> CDialogRingTone::ListTones() {
  std::vector<std::string> tones;
  platform::Device* dev = platform::Device::Current();
  if (!dev)
    return tones;
  for (const char* folder : kToneFolders) {
    std::error_code ec;
    fs::path host = dev->HostPath(folder);
    for (const auto& entry : fs::directory_iterator(host, ec)) {
      std::string ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (entry.is_regular_file() &&
          (ext == ".wav" || ext == ".mp3" || ext == ".mid" || ext == ".wma")) {
        tones.push_back(std::string(folder) + "\\" + entry.path().filename().string());
      }
    }
  }
  std::sort(tones.begin(), tones.end());
  return tones;
}

CDialogTheme::CDialogTheme(QWidget* owner) : CSmallDialog(owner, TEXT_ID("DIALOG_THEME_TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  theme_ = new QComboBox(this);
  for (const std::string& name : platform::ListTodayThemes())
    theme_->addItem(QString::fromStdString(name));
  AddRow(form, TEXT_ID("DIALOG_THEME_TITLE"), theme_);
  layout->addLayout(form);
  AddKeys(layout, true);
  theme_->setFocus();
}

std::string CDialogTheme::Theme() const {
  return theme_->currentText().toStdString();
}

bool CDialogTheme::HasThemes() const {
  return theme_->count() > 0;
}

CDialogAbout::CDialogAbout(QWidget* owner) : CSmallDialog(owner, TEXT_ID("ABOUT TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(AboutText(), this);
  label->setWordWrap(true);
  label->setAccessibleName(label->text());
  layout->addWidget(label);
  AddKeys(layout, false);
}

QString CDialogAbout::AboutText() {
  CTexts* texts = CTexts::GetInstance();
  return QString("Telvane %1\n%2 %3\n%4: %5")
      .arg(TELVANE_VERSION, Q(Text("DIALOG_ABOUT_BUILD")), __DATE__,
           Q(Text("DIALOG_ABOUT_TRANSLATOR")), QString::fromStdString(texts->GetAuthor()));
}

CDialogHelp::CDialogHelp(QWidget* owner) : CSmallDialog(owner, TEXT_ID("DIALOG_HELP_TITLE")) {
  auto* layout = new QVBoxLayout(this);
  auto* text = new QPlainTextEdit(this);
  text->setReadOnly(true);
  std::string language = CRegistrySettings::Instance()->GetString("language");
  std::optional<std::string> help = ReadHelp(language);
  text->setPlainText(QString::fromStdString(help ? *help : Text("no_help")));
  text->setAccessibleName(windowTitle());
  layout->addWidget(text);
  AddKeys(layout, false);
  text->setFocus();
}

std::optional<std::string> CDialogHelp::ReadHelp(const std::string& language) {
  // A language tag names a file of the program folder; anything that could leave it is refused.
  if (language.empty() || language.find_first_of("/\\.") != std::string::npos)
    return std::nullopt;
  std::string folder = platform::GetCurrentDirectory();
  if (folder.empty())
    return std::nullopt;
  std::ifstream in(fs::path(folder) / (language + ".txt"), std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
