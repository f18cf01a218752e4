// The skin: every position, size, colour, font and image file of the main window, its
// owner-drawn buttons and its bars comes from one XML file, chosen by the "theme" setting and by
// the class of the screen:
//
//   <program folder>/themes/<theme>/<square|qvga|vga>/skin.xml
//
//   <telvane>
//     <resolution id="qvga">
//       <orientation id="portrait">          the layout element; "landscape" and "square" too
//         <image id="background">bg.png</image>
//         <DownTextSate><position .../><font .../></DownTextSate>
//         <button id="bt" border="yes" text="yes" autolocate="yes" transparent="yes">
//           <position x=".." y=".." cx=".." cy=".."/>
//           <TopTextSate><position .../><font family=".." fontsize=".." fontbold=".."><rgb r=".."
//             g=".." b=".."/></font><brush><rgb .../></brush></TopTextSate>
//           <image id="on_pressed" x=".." y=".." cx=".." cy=".." r=".." g=".." b="..">f.png</image>
//           <state id="focused"><border_color id="pressed" width=".."><rgb .../></border_color>
//             <brush id="pressed"><rgb .../></brush> ...</state>
//           <font .../>
//         </button>
//         <bar id="battery" border="yes" autolocate="no" mode="gradient"> ... </bar>
//       </orientation>
//     </resolution>
//   </telvane>
//
// CSkin finds and loads the file, picks the layout element for the screen's class and
// orientation, and turns single elements into plain records (the Read* operations). It knows
// nothing of drawing: buttons, bars and the main window own the records and draw from them.
//
// Reading rules that theme authors rely on:
// - every number starts at -1 ("not given") and is only changed by an attribute that is present,
//   so a re-read from an element that omits a value keeps the old one;
// - a flag ("border", "text", "autolocate", "transparent") is false exactly when its value is
//   "no"; any other value is true; an absent flag keeps its value;
// - a bar's "mode" selects the gradient exactly when it is "gradient";
// - a file with a syntax error loads as an empty document: every query finds nothing and every
//   record keeps its defaults.
//
// Screen classes: 240x320 and 320x240 are qvga; any other square screen is square; a screen with
// a side above 320 is vga. The remaining sizes (not square, both sides at most 320, e.g.
// 240x300 or 320x200) are classed qvga: its layouts are made for the nearest size and fit them.
// A qvga or square screen smaller than its class's own size (176x220, 200x200) is drawn to fit:
// every position, size and font size the readers take from the file is scaled by the fit (the
// smaller of the two sides' ratios), so the whole layout shows, only smaller.
//
// Threading: a CSkin is used on the user-interface thread only and is not locked. The shared
// instance is created once (thread-safe creation) and never destroyed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <pugixml.hpp>

class CBarConfigXML;

struct SkinPosition {
  int x = -1;
  int y = -1;
  int cx = -1;
  int cy = -1;
};

struct SkinColor {
  int r = -1;
  int g = -1;
  int b = -1;
};

class SkinFont {
 public:
  virtual ~SkinFont() = default;
  int size = -1;
  int bold = -1;
  std::string family;
  SkinColor color;
};

struct SkinImage {
  SkinPosition position;
  std::string file;  // relative to the skin folder
  SkinColor colorKey;
};

struct SkinTextLabel {
  SkinPosition position;
  SkinFont font;
  SkinColor background;  // child "brush", its "rgb"; r at -1 when not given
};

class SkinButtonText {
 public:
  virtual ~SkinButtonText() = default;
  std::string id;
  SkinPosition position;
  SkinFont font;
};

class CSkin {
 public:
  enum ScreenClassId { kClassSquare = 0, kClassQvga = 1, kClassVga = 2 };
  enum ScreenOrientationId { kPortrait = 0, kLandscape = 1, kOrientationSquare = 2 };

  enum class LoadResult {
    kLoaded,      // the file was read (a syntax error still counts: it reads as empty)
    kNotLocated,  // no skin file at the path ("ERROR LOCATING SKIN")
    kUnreadable,  // the file is there but could not be read ("ERROR READING SKIN")
  };

  struct Screen {
    int screenClass;
    int orientation;
  };
  // Classifies a screen of `width` x `height` pixels (rules in the file comment).
  static Screen Classify(int width, int height);
  // The scale that fits the layouts of the screen's class into `width` x `height`: 1 for a
  // screen at least as large as the class's own size, below 1 for a smaller one.
  static double FitFor(int width, int height);

  // The process-wide skin, used by the configuration code of buttons and bars. The first call
  // classifies the screen and loads the file; a failed load is kept (see GetLoadResult) so that
  // the caller can report it. Any thread may create it; use it on the UI thread.
  static CSkin* GetInstance();
  // A skin built as the shared one is (classify the current screen, then load), for an owner
  // that keeps its own, such as the main window. Check GetLoadResult before use.
  static std::unique_ptr<CSkin> CreateForScreen();

  CSkin();
  virtual ~CSkin();
  CSkin(const CSkin&) = delete;
  CSkin& operator=(const CSkin&) = delete;

  // Builds the path from the program folder, the "theme" setting and the screen class, and
  // loads the file. A file with a syntax error loads as an empty document (kLoaded). A theme
  // that is not a plain folder name (empty, "..", or holding a path separator) is not located.
  virtual LoadResult LoadSkin();
  // Classifies the current screen of the device; called again by the main window when the
  // screen turns, after which the layout element is the one of the new orientation.
  virtual void DetectScreen();
  // The button element of `id` in the layout element; empty when absent.
  virtual pugi::xml_node GetButtonNode(std::string_view id);
  // The layout element for the current class and orientation; empty when absent.
  virtual pugi::xml_node GetLayoutNode();
  // The bar element of `id` in the layout element; empty when absent.
  pugi::xml_node GetBarNode(std::string_view id);
  // Hands the bar element of `id` (empty when absent) and `id` to the reader.
  virtual void GetBarConfig(CBarConfigXML& reader, const std::string& id);
  // The skin folder (host path ending in '/'), where every image file name is looked up.
  virtual std::string GetSkinFolder() const;

  // Readers: each fills only what the element gives (see the file comment). An empty node
  // leaves the record unchanged.
  virtual void ReadPosition(SkinPosition& out, pugi::xml_node node);
  virtual void ReadFont(SkinFont& out, pugi::xml_node node);
  virtual void ReadTextLabel(SkinTextLabel& out, pugi::xml_node node);
  virtual void ReadImage(SkinImage& out, pugi::xml_node node);
  virtual void ReadButtonText(SkinButtonText& out, pugi::xml_node node);
  virtual void ReadRGB(SkinColor& out, pugi::xml_node node);

  // A flag attribute: false exactly when its value is "no"; `current` when it is absent.
  static bool ReadFlag(pugi::xml_node node, const char* name, bool current);
  // A number attribute with decimal conversion (leading digits, else 0); `current` when absent.
  static int ReadNumber(pugi::xml_node node, const char* name, int current);

  // The first node that the XPath `path` selects from `context`; empty when none or when the
  // path is not valid XPath. Each path is compiled once per skin and reused, so the fixed paths
  // of the readers cost one compilation per process.
  pugi::xml_node SelectNode(pugi::xml_node context, std::string_view path);

  int GetScreenClass() const { return screenClass_; }
  // The scale of the readers for the current screen (see FitFor).
  double GetFit() const { return fit_; }
  // `value` (a length in the file's pixels) as drawn on the current screen; -1 stays -1.
  int Fit(int value) const;
  int GetScreenOrientation() const { return screenOrientation_; }
  // The screen class of the file that was loaded (-1 before LoadSkin). When a resize moves the
  // screen to another class, the owner loads again to get that class's file.
  int GetLoadedClass() const { return loadedClass_; }
  bool NeedsReload() const { return loadedClass_ != screenClass_; }

  LoadResult GetLoadResult() const { return loadResult_; }
  // The skin file's path as the user knows it on the phone (under "\Program Files\Telvane"),
  // or the host path without a device.
  std::string GetSkinFileDisplayPath() const;
  // The translated message for a failed load ("ERROR LOCATING SKIN" or "ERROR READING SKIN"
  // with the path); empty after a successful load. The main window shows it in an error box and
  // ends the program with exit code 0.
  std::string GetLoadErrorText() const;

  // The words of the layout path for a class and an orientation.
  static const char* ClassWord(int screenClass);
  static const char* OrientationWord(int orientation);

 protected:
  // Sets the classification directly (the screen as DetectScreen would find it) and the fit.
  void SetScreen(const Screen& screen, double fit = 1.0);

 private:
  struct LayoutQueries;

  std::string SkinFilePath() const;
  // A length attribute (position, size, font size): ReadNumber, scaled by the fit.
  int ReadLength(pugi::xml_node node, const char* name, int current) const;
  pugi::xml_node SelectInLayout(const pugi::xpath_query& query, std::string_view id);

  pugi::xml_document document_;
  std::unique_ptr<LayoutQueries> layoutQueries_;  // precompiled, bound to their variables
  int screenClass_ = kClassQvga;
  int screenOrientation_ = kPortrait;
  double fit_ = 1.0;
  int loadedClass_ = -1;
  LoadResult loadResult_ = LoadResult::kNotLocated;
  std::string skinFile_;  // host path of the file last loaded
  std::map<std::string, std::unique_ptr<pugi::xpath_query>, std::less<>> queries_;
};
