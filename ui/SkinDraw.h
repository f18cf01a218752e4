// Drawing helpers shared by the owner-drawn buttons, the bars and the main window: the
// process-wide image cache, colour-key transparency and skin fonts.
//
// Threading: user-interface thread only (the cache is not locked).
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>

#include <string>

#include "ui/Skin.h"

// The folder (ending in '/') where skin image files are looked up. The main window sets it to
// its skin's folder; until then it is <program folder>/themes/<theme>/.
void SetSkinImageFolder(const std::string& folder);
std::string GetSkinImageFolder();

// The image `file` of the skin folder, loaded once per process and shared. An image that cannot
// be loaded is replaced by the folder's "question.png"; null when that fails too (the failure is
// cached as well). Bitmaps live until the process ends.
const QImage* LoadSkinImage(const std::string& file);

// `image` with the pixels equal to `key` made fully transparent (ARGB32). The key compares the
// colour only, except when it is taken from a pixel that is itself transparent: then only pixels
// equal to it in colour and alpha match, so that an image carrying its own transparency keeps
// its dark strokes. Cached per (image, key).
const QImage& ColorKeyed(const QImage* image, QRgb key, bool matchAlpha);
// The key of a skin image: its r, g, b when r is given, else the colour of pixel (1, 1).
const QImage& ColorKeyedBySkin(const QImage* image, const SkinColor& key);

// The colour of a skin value; a component that is not given counts as 0.
QColor ToQColor(const SkinColor& c);

// A font of `family` (the default face when empty), `pixelSize` pixels high, weight 100 to 900.
// A face the machine lacks (the skins' "Tahoma" among them) falls back to "DejaVu Sans".
QFont SkinQFont(const std::string& family, int pixelSize, int weight);

// Clears the cache; tests only.
void ResetSkinImagesForTesting();
