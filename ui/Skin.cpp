#include "ui/Skin.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Device.h"
#include "platform/Mosutil.h"
#include "platform/Screen.h"
#include "platform/Text.h"
#include "ui/BarConfigXML.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kThemeSetting = "theme";
constexpr const char* kSkinFileName = "skin.xml";

// The theme setting names one folder under "themes"; anything else would leave that folder.
bool IsPlainFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string Trim(std::string_view text) {
  const char* kSpace = " \t\r\n";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos)
    return {};
  std::size_t last = text.find_last_not_of(kSpace);
  return std::string(text.substr(first, last - first + 1));
}

// Decimal conversion as the skin format defines it: optional sign and leading digits, anything
// else ends the number; no digits give 0. Values beyond 32 bits are clamped.
int ToInt(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT_MAX)
    return INT_MAX;
  if (value < INT_MIN)
    return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

struct CSkin::LayoutQueries {
  pugi::xpath_variable_set variables;
  pugi::xpath_query layout;
  pugi::xpath_query button;
  pugi::xpath_query bar;

  static pugi::xpath_variable_set MakeVariables() {
    pugi::xpath_variable_set vars;
    vars.add("res", pugi::xpath_type_string);
    vars.add("orient", pugi::xpath_type_string);
    vars.add("id", pugi::xpath_type_string);
    return vars;
  }

  LayoutQueries()
      : variables(MakeVariables()),
        layout("/telvane/resolution[@id=$res]/orientation[@id=$orient]", &variables),
        button("button[@id=$id]", &variables),
        bar("bar[@id=$id]", &variables) {}
};

CSkin::Screen CSkin::Classify(int width, int height) {
  Screen screen{};
  screen.orientation = width > height   ? kLandscape
                       : width < height ? kPortrait
                                        : kOrientationSquare;
  if ((width == 240 && height == 320) || (width == 320 && height == 240)) {
    screen.screenClass = kClassQvga;
  } else if (width == height) {
    screen.screenClass = kClassSquare;
  } else if (width > 320 || height > 320) {
    screen.screenClass = kClassVga;
  } else {
    // Small screens of other shapes take the layouts made for the nearest size.
    screen.screenClass = kClassQvga;
  }
  return screen;
}

double CSkin::FitFor(int width, int height) {
  Screen screen = Classify(width, height);
  if (width <= 0 || height <= 0 || screen.screenClass == kClassVga)
    return 1.0;
  // The class's own size in the screen's orientation.
  int fullWidth = 240;
  int fullHeight = 240;
  if (screen.screenClass == kClassQvga) {
    fullWidth = screen.orientation == kLandscape ? 320 : 240;
    fullHeight = screen.orientation == kLandscape ? 240 : 320;
  }
  double fit =
      std::min(static_cast<double>(width) / fullWidth, static_cast<double>(height) / fullHeight);
  return std::min(fit, 1.0);
}

int CSkin::Fit(int value) const {
  if (value < 0 || fit_ >= 1.0)
    return value;
  // Rounded down, so that a row of scaled buttons still fits where the full-size row did.
  return static_cast<int>(value * fit_);
}

const char* CSkin::ClassWord(int screenClass) {
  switch (screenClass) {
    case kClassSquare:
      return "square";
    case kClassQvga:
      return "qvga";
    case kClassVga:
      return "vga";
    default:
      return "";
  }
}

const char* CSkin::OrientationWord(int orientation) {
  switch (orientation) {
    case kPortrait:
      return "portrait";
    case kLandscape:
      return "landscape";
    case kOrientationSquare:
      return "square";
    default:
      return "";
  }
}

std::unique_ptr<CSkin> CSkin::CreateForScreen() {
  auto skin = std::make_unique<CSkin>();
  skin->DetectScreen();
  skin->LoadSkin();
  return skin;
}

CSkin* CSkin::GetInstance() {
  // Never destroyed: readers may run until the process ends.
  static CSkin* const instance = CreateForScreen().release();
  return instance;
}

CSkin::CSkin() : layoutQueries_(std::make_unique<LayoutQueries>()) {}

CSkin::~CSkin() = default;

void CSkin::SetScreen(const Screen& screen, double fit) {
  screenClass_ = screen.screenClass;
  screenOrientation_ = screen.orientation;
  fit_ = fit;
}

void CSkin::DetectScreen() {
  platform::ScreenSize size = platform::GetScreenSize();
  SetScreen(Classify(size.width, size.height), FitFor(size.width, size.height));
  Trace(TRACE_DEBUG, "CSkin::DetectScreen(%dx%d) %s %s fit %.3f", size.width, size.height,
        ClassWord(screenClass_), OrientationWord(screenOrientation_), fit_);
}

std::string CSkin::SkinFilePath() const {
  std::string theme = CRegistrySettings::Instance()->GetString(kThemeSetting);
  return platform::GetCurrentDirectory() + "/themes/" + theme + "/" + ClassWord(screenClass_) +
         "/" + kSkinFileName;
}

std::string CSkin::GetSkinFolder() const {
  std::string file = skinFile_.empty() ? SkinFilePath() : skinFile_;
  return file.substr(0, file.size() - std::char_traits<char>::length(kSkinFileName));
}

std::string CSkin::GetSkinFileDisplayPath() const {
  // Joined as typed rather than normalised, so that an empty or odd theme name shows as such.
  std::string theme = CRegistrySettings::Instance()->GetString(kThemeSetting);
  std::string program = platform::GetCurrentDirectory();
  const char* screenClass = ClassWord(loadedClass_ >= 0 ? loadedClass_ : screenClass_);
  if (platform::Device* device = platform::Device::Current()) {
    if (auto devicePath = device->DevicePath(program)) {
      return *devicePath + "\\themes\\" + theme + "\\" + screenClass + "\\" + kSkinFileName;
    }
  }
  return program + "/themes/" + theme + "/" + screenClass + "/" + kSkinFileName;
}

CSkin::LoadResult CSkin::LoadSkin() {
  skinFile_ = SkinFilePath();
  loadedClass_ = screenClass_;
  document_.reset();
  Trace(TRACE_INFO, "CSkin::LoadSkin(%s)", skinFile_.c_str());

  std::string theme = CRegistrySettings::Instance()->GetString(kThemeSetting);
  std::error_code ec;
  if (!IsPlainFolderName(theme) || platform::GetCurrentDirectory().empty() ||
      !fs::exists(fs::status(skinFile_, ec))) {
    loadResult_ = LoadResult::kNotLocated;
    return loadResult_;
  }

  // Only a regular file is handed to the parser: it sizes its buffer from the file's length,
  // which a folder or a device in the skin's place does not have.
  if (!fs::is_regular_file(fs::status(skinFile_, ec))) {
    loadResult_ = LoadResult::kUnreadable;
    Trace(TRACE_INFO, "CSkin::-LoadSkin(%d) not a file", static_cast<int>(loadResult_));
    return loadResult_;
  }

  try {
    pugi::xml_parse_result result = document_.load_file(skinFile_.c_str());
    switch (result.status) {
      case pugi::status_ok:
        loadResult_ = LoadResult::kLoaded;
        break;
      case pugi::status_file_not_found:
      case pugi::status_io_error:
      case pugi::status_out_of_memory:
      case pugi::status_internal_error:
        document_.reset();
        loadResult_ = LoadResult::kUnreadable;
        break;
      default:
        // The parser keeps what it read before the error; an unparsable file must read as
        // empty, so that every record keeps its defaults rather than half a skin.
        Trace(TRACE_WARNING, "CSkin::LoadSkin syntax error at %lld: %s",
              static_cast<long long>(result.offset), result.description());
        document_.reset();
        loadResult_ = LoadResult::kLoaded;
        break;
    }
  } catch (const std::exception& e) {
    Trace(TRACE_ERROR, "CSkin::LoadSkin exception %s", e.what());
    document_.reset();
    loadResult_ = LoadResult::kUnreadable;
  }
  Trace(TRACE_INFO, "CSkin::-LoadSkin(%d)", static_cast<int>(loadResult_));
  return loadResult_;
}

std::string CSkin::GetLoadErrorText() const {
  const char* id = nullptr;
  switch (loadResult_) {
    case LoadResult::kLoaded:
      return {};
    case LoadResult::kNotLocated:
      id = TEXT_ID("ERROR LOCATING SKIN");
      break;
    case LoadResult::kUnreadable:
      id = TEXT_ID("ERROR READING SKIN");
      break;
  }
  // The translation is the format; the path is its only argument.
  std::string format = CTexts::GetInstance()->GetText(id);
  std::string path = GetSkinFileDisplayPath();
  return platform::Format(format.c_str(), path.c_str());
}

pugi::xml_node CSkin::GetLayoutNode() {
  LayoutQueries& q = *layoutQueries_;
  q.variables.set("res", ClassWord(screenClass_));
  q.variables.set("orient", OrientationWord(screenOrientation_));
  return q.layout.evaluate_node(document_).node();
}

pugi::xml_node CSkin::SelectInLayout(const pugi::xpath_query& query, std::string_view id) {
  pugi::xml_node layout = GetLayoutNode();
  if (!layout)
    return {};
  layoutQueries_->variables.set("id", std::string(id).c_str());
  return query.evaluate_node(layout).node();
}

pugi::xml_node CSkin::GetButtonNode(std::string_view id) {
  return SelectInLayout(layoutQueries_->button, id);
}

pugi::xml_node CSkin::GetBarNode(std::string_view id) {
  return SelectInLayout(layoutQueries_->bar, id);
}

void CSkin::GetBarConfig(CBarConfigXML& reader, const std::string& id) {
  reader.GetConfigFromXML(GetBarNode(id), id);
}

pugi::xml_node CSkin::SelectNode(pugi::xml_node context, std::string_view path) {
  if (!context)
    return {};
  auto it = queries_.find(path);
  if (it == queries_.end()) {
    std::unique_ptr<pugi::xpath_query> query;
    try {
      query = std::make_unique<pugi::xpath_query>(std::string(path).c_str());
    } catch (const pugi::xpath_exception& e) {
      Trace(TRACE_ERROR, "CSkin::SelectNode bad path %.*s: %s", static_cast<int>(path.size()),
            path.data(), e.what());
    }
    it = queries_.emplace(std::string(path), std::move(query)).first;
  }
  if (!it->second || !*it->second)
    return {};
  try {
    return it->second->evaluate_node(context).node();
  } catch (const pugi::xpath_exception&) {
    return {};  // the path selects no nodes (a number or a string)
  }
}

bool CSkin::ReadFlag(pugi::xml_node node, const char* name, bool current) {
  pugi::xml_attribute attr = node.attribute(name);
  if (!attr)
    return current;
  return std::string_view(attr.value()) != "no";
}

int CSkin::ReadNumber(pugi::xml_node node, const char* name, int current) {
  pugi::xml_attribute attr = node.attribute(name);
  return attr ? ToInt(attr.value()) : current;
}

int CSkin::ReadLength(pugi::xml_node node, const char* name, int current) const {
  pugi::xml_attribute attr = node.attribute(name);
  return attr ? Fit(ToInt(attr.value())) : current;
}

void CSkin::ReadPosition(SkinPosition& out, pugi::xml_node node) {
  out.x = ReadLength(node, "x", out.x);
  out.y = ReadLength(node, "y", out.y);
  out.cx = ReadLength(node, "cx", out.cx);
  out.cy = ReadLength(node, "cy", out.cy);
}

void CSkin::ReadRGB(SkinColor& out, pugi::xml_node node) {
  out.r = ReadNumber(node, "r", out.r);
  out.g = ReadNumber(node, "g", out.g);
  out.b = ReadNumber(node, "b", out.b);
}

void CSkin::ReadFont(SkinFont& out, pugi::xml_node node) {
  if (!node)
    return;
  if (pugi::xml_attribute family = node.attribute("family"))
    out.family = family.value();
  out.size = ReadLength(node, "fontsize", out.size);
  out.bold = ReadNumber(node, "fontbold", out.bold);
  if (pugi::xml_node rgb = node.child("rgb"))
    ReadRGB(out.color, rgb);
}

void CSkin::ReadImage(SkinImage& out, pugi::xml_node node) {
  if (!node)
    return;
  out.file = Trim(node.text().get());
  ReadPosition(out.position, node);
  ReadRGB(out.colorKey, node);
}

void CSkin::ReadTextLabel(SkinTextLabel& out, pugi::xml_node node) {
  ReadPosition(out.position, node.child("position"));
  ReadFont(out.font, node.child("font"));
  if (pugi::xml_node rgb = node.child("brush").child("rgb"))
    ReadRGB(out.background, rgb);
}

void CSkin::ReadButtonText(SkinButtonText& out, pugi::xml_node node) {
  if (pugi::xml_attribute id = node.attribute("id"))
    out.id = id.value();
  ReadPosition(out.position, node.child("position"));
  ReadFont(out.font, node.child("font"));
}
