#include "ui/SkinDraw.h"

#include <QFontDatabase>

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <utility>

#include "app/RegistrySettings.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"

namespace {

constexpr const char* kDefaultFace = "Tahoma";
constexpr const char* kFallbackFace = "DejaVu Sans";
constexpr const char* kQuestionImage = "question.png";

struct Cache {
  std::string folder;
  // Keyed by the full path, so that another theme or screen class does not reuse the bitmaps of
  // the last one.
  std::list<std::pair<std::string, std::unique_ptr<QImage>>> images;
  std::map<std::pair<const QImage*, std::pair<QRgb, bool>>, QImage> keyed;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

std::unique_ptr<QImage> ReadImage(const std::string& path) {
  auto image = std::make_unique<QImage>(QString::fromStdString(path));
  if (image->isNull())
    return nullptr;
  return image;
}

}  // namespace

void SetSkinImageFolder(const std::string& folder) {
  TheCache().folder = folder;
}

std::string GetSkinImageFolder() {
  Cache& cache = TheCache();
  if (!cache.folder.empty())
    return cache.folder;
  return platform::GetCurrentDirectory() + "/themes/" +
         CRegistrySettings::Instance()->GetString("theme") + "/";
}

const QImage* LoadSkinImage(const std::string& file) {
  Cache& cache = TheCache();
  std::string folder = GetSkinImageFolder();
  std::string path = folder + file;
  for (const auto& [name, image] : cache.images) {
    if (name == path)
      return image.get();
  }
  std::unique_ptr<QImage> image = file.empty() ? nullptr : ReadImage(path);
  if (!image) {
    Trace(TRACE_WARNING, "LoadSkinImage: %s not loaded, using %s", path.c_str(), kQuestionImage);
    image = ReadImage(folder + kQuestionImage);
  }
  if (image && image->format() != QImage::Format_ARGB32)
    *image = image->convertToFormat(QImage::Format_ARGB32);
  cache.images.emplace_back(path, std::move(image));
  return cache.images.back().second.get();
}

const QImage& ColorKeyed(const QImage* image, QRgb key, bool matchAlpha) {
  static const QImage kNone;
  if (!image)
    return kNone;
  Cache& cache = TheCache();
  auto id = std::make_pair(image, std::make_pair(key, matchAlpha));
  if (auto it = cache.keyed.find(id); it != cache.keyed.end())
    return it->second;
  QImage out = image->convertToFormat(QImage::Format_ARGB32);
  QRgb mask = matchAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if ((line[x] & mask) == (key & mask))
        line[x] &= 0x00FFFFFFu;
    }
  }
  return cache.keyed.emplace(id, std::move(out)).first->second;
}

const QImage& ColorKeyedBySkin(const QImage* image, const SkinColor& key) {
  if (key.r >= 0)
    return ColorKeyed(image, qRgb(key.r, std::max(key.g, 0), std::max(key.b, 0)), false);
  QRgb pixel = 0;
  if (image && image->width() > 1 && image->height() > 1)
    pixel = image->pixel(1, 1);
  else if (image && !image->isNull())
    pixel = image->pixel(0, 0);
  // A key taken from a transparent pixel only matches what is already transparent.
  return ColorKeyed(image, pixel, qAlpha(pixel) != 255);
}

QColor ToQColor(const SkinColor& c) {
  auto part = [](int v) { return std::clamp(v, 0, 255); };
  return QColor(part(c.r), part(c.g), part(c.b));
}

QFont SkinQFont(const std::string& family, int pixelSize, int weight) {
  QString face = QString::fromStdString(family.empty() ? kDefaultFace : family);
  if (!QFontDatabase::hasFamily(face))
    face = kFallbackFace;
  QFont font(face);
  font.setPixelSize(std::max(pixelSize, 1));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

void ResetSkinImagesForTesting() {
  Cache& cache = TheCache();
  cache.keyed.clear();
  cache.images.clear();
  cache.folder.clear();
}
