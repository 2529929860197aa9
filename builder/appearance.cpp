#include "builder/appearance.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <sstream>

#include "builder/backdrop.h"
#include "builder/codepage.h"
#include "builder/images.h"
#include "builder/layout.h"
#include "builder/package_writer.h"

namespace setrunc {

const std::vector<const char*> AppearanceLayoutKeys = {"accent", "header_image", "side_image", "pages",
                                                       "buttons"};

std::string ProductNames::Display(const std::string& title) const {
  if (name.empty()) return title;
  return version.empty() ? name : name + " " + version;
}

std::string ProductNames::SetupTitle() const {
  return name.empty() ? "Setup" : Display("") + " Setup";
}

namespace {

// A rich-text control takes at most this many characters unless the setup
// program raises its limit.
const size_t RichTextLimit = 32767;

std::string Lower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

// Reading the keys of this file, with messages that name the file, the line
// and the key.
class Reader {
 public:
  explicit Reader(const ProjectContext& c) : c_(c) {}

  [[noreturn]] void Fail(const toml::node* n, const std::string& key, const std::string& msg) const {
    throw BuildError(Where(n) + ": " + key + ": " + msg);
  }

  void Warn(const toml::node* n, const std::string& key, const std::string& msg) const {
    if (!c_.warnings) return;
    std::ostringstream s;
    s << c_.name;
    if (n && n->source().begin.line) s << ":" << n->source().begin.line;
    s << ": " << key << ": " << msg;
    c_.warnings->push_back(s.str());
  }

  static std::string Sub(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  void CheckKeys(const toml::table& t, const std::string& path, const std::vector<const char*>& allowed) const {
    for (auto&& [k, v] : t) {
      if (std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return k.str() == a; })) continue;
      std::string list;
      for (const char* a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
      std::ostringstream s;
      s << c_.name << ":" << k.source().begin.line << ":" << k.source().begin.column << ": "
        << Sub(path, std::string(k.str())) << ": unknown key (known here: " << list << ")";
      throw BuildError(s.str());
    }
  }

  const toml::table* Table(const toml::table& t, const char* key, const std::string& path) const {
    const toml::node* n = t.get(key);
    if (!n) return nullptr;
    if (!n->is_table()) Fail(n, Sub(path, key), "must be a table");
    return n->as_table();
  }

  std::string Ansi(const std::string& utf8, const toml::node* n, const std::string& key) const {
    if (utf8.find('\0') != std::string::npos) Fail(n, key, "must not contain a NUL character");
    if (!c_.convert) return utf8;
    std::string out, bad;
    if (!Utf8ToCp1252(utf8, &out, &bad)) Fail(n, key, "contains " + bad + ", which code page 1252 cannot hold");
    return out;
  }

  std::optional<std::string> Text(const toml::table& t, const char* key, const std::string& path) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_string()) Fail(n, Sub(path, key), "must be a string");
    return Ansi(n->as_string()->get(), n, Sub(path, key));
  }

  std::optional<int64_t> Int(const toml::table& t, const char* key, const std::string& path, int64_t lo,
                             int64_t hi) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    return IntValue(n, Sub(path, key), lo, hi);
  }

  int64_t IntValue(const toml::node* n, const std::string& key, int64_t lo, int64_t hi) const {
    if (!n->is_integer()) Fail(n, key, "must be an integer");
    int64_t v = n->as_integer()->get();
    if (v < lo || v > hi) Fail(n, key, "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
    return v;
  }

  std::optional<bool> Bool(const toml::table& t, const char* key, const std::string& path) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    if (!n->is_boolean()) Fail(n, Sub(path, key), "must be true or false");
    return n->as_boolean()->get();
  }

  // A COLORREF: "#RRGGBB", "system" or a number.
  u32 ColourValue(const toml::node* n, const std::string& key) const {
    if (n->is_integer()) return (u32)IntValue(n, key, 0, 0xFFFFFFFFll);
    if (n->is_string()) {
      std::string s = n->as_string()->get();
      if (Lower(s) == "system") return SystemColour;
      if (s.size() == 7 && s[0] == '#' &&
          std::all_of(s.begin() + 1, s.end(), [](char c) { return std::isxdigit((unsigned char)c); })) {
        u32 rgb = (u32)std::strtoul(s.c_str() + 1, nullptr, 16);
        return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
      }
    }
    Fail(n, key, "must be a colour: \"#RRGGBB\", \"system\" or a COLORREF number");
  }

  std::optional<u32> Colour(const toml::table& t, const char* key, const std::string& path) const {
    const toml::node* n = t.get(key);
    if (!n) return std::nullopt;
    return ColourValue(n, Sub(path, key));
  }

  // A path from the project: ${NAME} expanded, relative to the project folder.
  std::string PathValue(const toml::node* n, const std::string& key) const {
    if (!n->is_string()) Fail(n, key, "must be a path");
    const std::string& s = n->as_string()->get();
    std::string out;
    for (size_t i = 0; i < s.size();) {
      if (s.compare(i, 2, "${") == 0) {
        size_t end = s.find('}', i + 2);
        if (end == std::string::npos) Fail(n, key, "'${' without '}'");
        std::string var = s.substr(i + 2, end - i - 2);
        auto it = c_.defines.find(var);
        if (it == c_.defines.end())
          Fail(n, key, "${" + var + "} is not defined (pass -D " + var + "=VALUE or set it in [defines])");
        out += it->second;
        i = end + 1;
      } else {
        out += s[i++];
      }
    }
    if (out.empty()) Fail(n, key, "must not be empty");
    if (out[0] == '/' || c_.baseDir.empty()) return out;
    return c_.baseDir + "/" + out;
  }

  Bytes ReadFile(const std::string& path, const toml::node* n, const std::string& key) const {
    try {
      return ReadWholeFile(path);
    } catch (const BuildError& e) {
      Fail(n, key, e.what());
    }
  }

  // A text file for a page: UTF-8 (a byte order mark is dropped) in the
  // target code page, with CR LF line ends.
  std::string TextFile(const toml::node* n, const std::string& key) const {
    std::string path = PathValue(n, key);
    Bytes b = ReadFile(path, n, key);
    std::string text(b.begin(), b.end());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    text = Ansi(text, n, key);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
      out += text[i];
    }
    return out;
  }

  const ProjectContext& context() const { return c_; }

 private:
  std::string Where(const toml::node* n) const {
    std::ostringstream s;
    s << c_.name;
    if (n && n->source().begin.line) s << ":" << n->source().begin.line << ":" << n->source().begin.column;
    return s.str();
  }

  const ProjectContext& c_;
};

}  // namespace

ProductNames ReadProductNames(const toml::table& root, const ProjectContext& context) {
  Reader r(context);
  ProductNames names;
  names.name = r.Text(root, "product", "").value_or("");
  names.version = r.Text(root, "version", "").value_or("");
  names.publisher = r.Text(root, "publisher", "").value_or("");
  if (names.name.empty() && (root.get("version") || root.get("publisher")))
    r.Fail(root.get("version") ? root.get("version") : root.get("publisher"),
           root.get("version") ? "version" : "publisher", "needs 'product' (the product name)");
  return names;
}

void ReadGroupDocuments(const toml::table& t, const std::string& path, const ProjectContext& context,
                        Group* g) {
  Reader r(context);
  if (t.get("licence") && t.get("license"))
    r.Fail(t.get("license"), Reader::Sub(path, "license"), "give either 'licence' or 'license'");
  const char* licenceKey = t.get("license") ? "license" : "licence";
  const toml::table* texts = t.get("texts") ? t.get("texts")->as_table() : nullptr;
  struct Document {
    const char* key;
    u8 page;
    const char* textKey;
  };
  const Document documents[] = {{licenceKey, PageLicence, "2/2"}, {"information", PageInformation, "1/2"}};
  const bool pagesGiven = t.get("pages") != nullptr;
  size_t insertAt = 0;
  if (!g->pages.empty() && g->pages[0] == PageWelcome) insertAt = 1;
  for (const Document& d : documents) {
    const toml::node* n = t.get(d.key);
    if (!n) continue;
    const std::string key = Reader::Sub(path, d.key);
    if (texts && texts->get(d.textKey))
      r.Fail(n, key, std::string("the text ") + d.textKey + " is given twice: here and in 'texts'");
    std::string text = r.TextFile(n, key);
    if (text.size() > RichTextLimit)
      r.Warn(n, key,
             "the text has " + std::to_string(text.size()) + " characters; a rich-text box shows at most " +
                 std::to_string(RichTextLimit));
    unsigned group = d.page, number = 2;
    if (g->texts[group].size() <= number) g->texts[group].resize(number + 1);
    g->texts[group][number] = text;
    bool listed = std::find(g->pages.begin(), g->pages.end(), d.page) != g->pages.end();
    if (!pagesGiven && !listed) {
      if (g->pages.size() >= PageSequenceLength - 1) r.Fail(n, key, "the page sequence is full");
      g->pages.insert(g->pages.begin() + (long)insertAt, d.page);
      ++insertAt;
    } else if (!listed) {
      r.Warn(n, key, std::string("'pages' has no ") + PageKindName(d.page) + " page to show the text on");
    }
  }
}

namespace {

// An image a pane shows, as the project chose it.
struct ImageChoice {
  enum Kind { None, Standard, File, Number } kind = Standard;
  std::string path;  // File
  u32 number = 0;    // Number: an image of a raw image table
  const toml::node* node = nullptr;
  std::string key;
};

// The pictures of the wizard image table, each decoded or drawn once.
class ImageSet {
 public:
  ImageSet(const Reader& r, u32 accent) : r_(r), accent_(accent) {}

  // The image for a choice laid over `background`, drawn at `width` x
  // `height` when it is the standard one; its table number (from 1), or 0.
  u32 Add(const ImageChoice& c, bool side, u32 background, int width, int height) {
    if (c.kind == ImageChoice::None) return 0;
    if (c.kind == ImageChoice::Number) return c.number;
    // A file is the same picture at any pane size; the drawn banner is drawn
    // for its pane.
    std::string key = (c.kind == ImageChoice::File ? "file:" + c.path : side ? "side" : "emblem") + "|" +
                      std::to_string(background);
    if (c.kind == ImageChoice::Standard && side) key += "|" + std::to_string(width) + "x" + std::to_string(height);
    for (size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i] == key) return (u32)i + 1;
    Rgb image;
    if (c.kind == ImageChoice::File) {
      try {
        image = LoadImageFile(c.path, background);
      } catch (const BuildError& e) {
        r_.Fail(c.node, c.key, c.path + " " + e.what());
      }
    } else if (side) {
      image = DrawSideBanner(width, height, accent_);
    } else {
      image = DrawHeaderEmblem(StandardEmblemSize, accent_, background);
    }
    keys_.push_back(key);
    images_.push_back(std::move(image));
    return (u32)images_.size();
  }

  int Width(u32 number) const { return number && number <= images_.size() ? images_[number - 1].width : 0; }
  bool Empty() const { return images_.empty(); }

  Bytes Table() const {
    std::vector<Bytes> packed;
    for (const Rgb& image : images_) packed.push_back(PackedBitmap(image));
    return ImageTable(packed);
  }

 private:
  const Reader& r_;
  u32 accent_;
  std::vector<std::string> keys_;
  std::vector<Rgb> images_;
};

const char* const PageFlagNames[] = {"side_line", "side_image_centred", "side_image_framed", "header_line",
                                     "header_image_centred", "header_image_framed", "header_image_right"};
const u32 PageFlagValues[] = {PageFlagSideLine,           PageFlagSideImageCentred,  PageFlagSideImageFramed,
                              PageFlagHeaderLine,         PageFlagHeaderImageCentredV, PageFlagHeaderImageFramed,
                              PageFlagHeaderImageRight};

struct KindName {
  const char* name;
  u16 kind;
  u32 style, exStyle, flags;
};
const u32 ChildVisible = win::Child | win::Visible;
const KindName KindNames[] = {
    {"static", ControlStatic, ChildVisible | win::SsNoPrefix, 0, 0},
    {"edit", ControlEdit, ChildVisible | win::TabStop | win::EsAutoHScroll, win::ExClientEdge, 0},
    {"button", ControlPushButton, ChildVisible | win::TabStop, 0, 0},
    {"check_box", ControlCheckBox, ChildVisible | win::TabStop | win::BsAutoCheckBox, 0, 0},
    {"radio_button", ControlRadioButton, ChildVisible | win::TabStop | win::BsAutoRadioButton, 0, 0},
    {"group_box", ControlGroupBox, ChildVisible | 0x7 /* BS_GROUPBOX */, 0, 0},
    {"progress_bar", ControlProgressBar, ChildVisible | win::PbsSmooth, 0, 0},
    {"rich_text", ControlRichText, ChildVisible | win::EsMultiline | win::EsReadOnly, 0, 0},
    {"rich_text_box", ControlRichText,
     ChildVisible | win::TabStop | win::VScroll | win::EsMultiline | win::EsReadOnly | win::EsAutoVScroll,
     win::ExClientEdge, ControlFlagInputBox}};

const char* const PanePlaceNames[] = {"top_left", "top",         "top_right", "left",  "centre", "center",
                                      "right",    "bottom_left", "bottom",    "bottom_right", "stretch",
                                      "tile"};
const u32 PanePlaceValues[] = {0,
                               LayoutFlagCentreH,
                               LayoutFlagRight,
                               LayoutFlagCentreV,
                               LayoutFlagCentreH | LayoutFlagCentreV,
                               LayoutFlagCentreH | LayoutFlagCentreV,
                               LayoutFlagRight | LayoutFlagCentreV,
                               LayoutFlagBottom,
                               LayoutFlagCentreH | LayoutFlagBottom,
                               LayoutFlagRight | LayoutFlagBottom,
                               LayoutFlagStretch,
                               LayoutFlagTile};
const u32 PlacementBits = LayoutFlagStretch | LayoutFlagTile | LayoutFlagCentreH | LayoutFlagRight |
                          LayoutFlagCentreV | LayoutFlagBottom;

u32 Blend(u32 a, u32 b, int percentOfB) {
  u32 out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int ca = (int)((a >> shift) & 0xFF), cb = (int)((b >> shift) & 0xFF);
    out |= (u32)((ca * (100 - percentOfB) + cb * percentOfB + 50) / 100) << shift;
  }
  return out;
}

class AppearanceReader {
 public:
  AppearanceReader(const ProjectContext& c, Project* p) : r_(c), p_(*p) {}

  void Read(const toml::table& root, const ProductNames& names, const std::string& title);

 private:
  Reader r_;
  Project& p_;
  StandardColours colours_;

  ImageChoice ReadImage(const toml::table& t, const char* key, const std::string& path, ImageChoice current) {
    const toml::node* n = t.get(key);
    if (!n) return current;
    ImageChoice c;
    c.node = n;
    c.key = Reader::Sub(path, key);
    if (n->is_boolean()) {
      c.kind = n->as_boolean()->get() ? ImageChoice::Standard : ImageChoice::None;
    } else if (n->is_integer()) {
      c.kind = ImageChoice::Number;
      c.number = (u32)r_.IntValue(n, c.key, 0, 0xFFFF);
      if (c.number == 0) c.kind = ImageChoice::None;
    } else if (n->is_string()) {
      c.kind = ImageChoice::File;
      c.path = r_.PathValue(n, c.key);
    } else {
      r_.Fail(n, c.key, "must be a PNG or BMP file, an image number, true (the standard image) or false (none)");
    }
    return c;
  }

  void ReadPageKeys(const toml::table& t, const std::string& path, PageSpec* page, ImageChoice* side,
                    ImageChoice* header) {
    if (const toml::node* n = t.get("flags")) {
      std::string key = Reader::Sub(path, "flags");
      if (n->is_integer()) {
        page->flags = (u32)r_.IntValue(n, key, 0, 0xFFFFFFFFll);
      } else if (n->is_array()) {
        page->flags = 0;
        const toml::array& a = *n->as_array();
        for (size_t i = 0; i < a.size(); ++i) {
          const toml::node* e = a.get(i);
          std::string ek = key + "[" + std::to_string(i) + "]";
          if (e->is_integer()) {
            page->flags |= (u32)r_.IntValue(e, ek, 0, 0xFFFFFFFFll);
            continue;
          }
          bool found = false;
          for (size_t f = 0; f < std::size(PageFlagNames); ++f)
            if (e->is_string() && Lower(e->as_string()->get()) == PageFlagNames[f]) {
              page->flags |= PageFlagValues[f];
              found = true;
            }
          if (!found) {
            std::string list;
            for (const char* name : PageFlagNames) list += (list.empty() ? "" : ", ") + std::string(name);
            r_.Fail(e, ek, "unknown page flag (known: " + list + ")");
          }
        }
      } else {
        r_.Fail(n, key, "must be a number or a list of page flag names");
      }
    }
    if (auto v = r_.Colour(t, "colour", path)) page->background = *v;
    if (auto v = r_.Colour(t, "text_colour", path)) page->textColour = *v;
    if (auto v = r_.Colour(t, "edit_colour", path)) page->editBackground = *v;
    if (auto v = r_.Int(t, "side_width", path, 0, 10000)) page->sideWidth = (i32)*v;
    if (auto v = r_.Colour(t, "side_colour", path)) page->sideBackground = *v;
    if (auto v = r_.Int(t, "header_height", path, 0, 10000)) page->headerHeight = (i32)*v;
    if (auto v = r_.Colour(t, "header_colour", path)) page->headerBackground = *v;
    if (auto v = r_.Colour(t, "header_text_colour", path)) page->headerTextColour = *v;
    *side = ReadImage(t, "side_image", path, *side);
    *header = ReadImage(t, "header_image", path, *header);
  }

  // [....controls.<name or id>] tables: move, change, add or remove controls.
  void ReadControls(const toml::table& t, const std::string& path, std::vector<ControlSpec>* pane,
                    std::vector<ControlSpec>* headerPane) {
    for (auto&& [k, v] : t) {
      const std::string name(k.str());
      const std::string key = path + "." + name;
      if (!v.is_table()) r_.Fail(&v, key, "must be a table of control settings");
      const toml::table& c = *v.as_table();
      r_.CheckKeys(c, key, {"id", "kind", "pane", "left", "top", "right", "bottom", "rect", "move", "style",
                            "ex_style", "flags", "remove"});
      u16 id = 0;
      if (!name.empty() && std::all_of(name.begin(), name.end(), [](char ch) { return std::isdigit((unsigned char)ch); }))
        id = name.size() <= 5 && std::stoul(name) <= 0xFFFF ? (u16)std::stoul(name) : 0;
      else
        id = ControlIdByName(name);
      if (auto v2 = r_.Int(c, "id", key, 1, 0xFFFF)) id = (u16)*v2;
      if (!id) r_.Fail(&v, key, "is not a control name of the standard layout; give its 'id'");
      std::vector<ControlSpec>* target = pane;
      bool header = (id == ControlIdPageTitle || id == ControlIdPageSubtitle) && headerPane;
      if (auto where = r_.Text(c, "pane", key)) {
        if (*where == "header" && headerPane) header = true;
        else if (*where == "page") header = false;
        else r_.Fail(c.get("pane"), key + ".pane", headerPane ? "must be \"page\" or \"header\"" : "only pages have panes");
      }
      if (header) target = headerPane;
      auto found = std::find_if(target->begin(), target->end(), [&](const ControlSpec& s) { return s.id == id; });
      if (r_.Bool(c, "remove", key).value_or(false)) {
        if (found == target->end()) r_.Fail(&v, key, "there is no such control here to remove");
        target->erase(found);
        continue;
      }
      const bool fresh = found == target->end();
      ControlSpec spec;
      if (!fresh) spec = *found;
      spec.id = id;
      if (fresh) spec.name = *ControlName(id) ? ControlName(id) : name;
      if (const toml::node* kn = c.get("kind")) {
        const KindName* kind = nullptr;
        if (kn->is_string())
          for (const KindName& kname : KindNames)
            if (Lower(kn->as_string()->get()) == kname.name) kind = &kname;
        if (kn->is_integer()) {
          spec.kind = (u16)r_.IntValue(kn, key + ".kind", 0, 0xFFFF);
        } else if (!kind) {
          std::string list;
          for (const KindName& kname : KindNames) list += (list.empty() ? "" : ", ") + std::string(kname.name);
          r_.Fail(kn, key + ".kind", "unknown control kind (known: " + list + ", or a number)");
        } else if (fresh || kind->kind != spec.kind || kind->flags != spec.flags) {
          // A new or changed kind starts from that kind's usual styles.
          spec.kind = kind->kind;
          spec.style = kind->style;
          spec.exStyle = kind->exStyle;
          spec.flags = kind->flags;
        }
      } else if (fresh) {
        r_.Fail(&v, key, "a control the standard layout does not have needs 'kind' and its position");
      }
      if (auto s = r_.Int(c, "style", key, 0, 0xFFFFFFFFll)) spec.style = (u32)*s;
      if (auto s = r_.Int(c, "ex_style", key, 0, 0xFFFFFFFFll)) spec.exStyle = (u32)*s;
      if (const toml::node* fn = c.get("flags")) {
        if (fn->is_integer()) spec.flags = (u32)r_.IntValue(fn, key + ".flags", 0, 0xFFFFFFFFll);
        else if (fn->is_array() && fn->as_array()->empty()) spec.flags = 0;
        else if (fn->is_array() && fn->as_array()->size() == 1 && fn->as_array()->get(0)->is_string() &&
                 fn->as_array()->get(0)->as_string()->get() == "input_box")
          spec.flags = ControlFlagInputBox;
        else r_.Fail(fn, key + ".flags", "must be [\"input_box\"], [] or a number");
      }
      if (const toml::node* rn = c.get("rect")) {
        const toml::array* a = rn->as_array();
        if (!a || a->size() != 4) r_.Fail(rn, key + ".rect", "must be [left, top, right, bottom]");
        i32* fields[] = {&spec.left, &spec.top, &spec.right, &spec.bottom};
        for (size_t i = 0; i < 4; ++i)
          *fields[i] = (i32)r_.IntValue(a->get(i), key + ".rect[" + std::to_string(i) + "]", -10000, 10000);
      } else if (fresh && !(c.get("left") && c.get("top") && c.get("right") && c.get("bottom"))) {
        r_.Fail(&v, key, "a new control needs its position: 'rect' or 'left', 'top', 'right' and 'bottom'");
      }
      const char* sides[] = {"left", "top", "right", "bottom"};
      i32* fields[] = {&spec.left, &spec.top, &spec.right, &spec.bottom};
      for (int i = 0; i < 4; ++i)
        if (auto s = r_.Int(c, sides[i], key, -10000, 10000)) *fields[i] = (i32)*s;
      if (const toml::node* mn = c.get("move")) {
        const toml::array* a = mn->as_array();
        if (!a || a->size() != 2) r_.Fail(mn, key + ".move", "must be [dx, dy]");
        i32 dx = (i32)r_.IntValue(a->get(0), key + ".move[0]", -10000, 10000);
        i32 dy = (i32)r_.IntValue(a->get(1), key + ".move[1]", -10000, 10000);
        spec.left += dx;
        spec.right += dx;
        spec.top += dy;
        spec.bottom += dy;
      }
      if (spec.right <= spec.left || spec.bottom <= spec.top)
        r_.Fail(&v, key, "right must lie right of left and bottom below top");
      if (fresh) target->push_back(spec);
      else *found = spec;
    }
  }

  // Every control lies inside the pane it belongs to.
  void CheckInside(const std::vector<ControlSpec>& controls, i32 width, i32 height, const toml::node* n,
                   const std::string& key, const char* pane) {
    for (const ControlSpec& c : controls) {
      if (c.right <= c.left || c.bottom <= c.top)
        r_.Fail(n, key, "control " + std::to_string(c.id) + (c.name.empty() ? "" : " (" + c.name + ")") +
                            " has no room in the " + pane + " of " + std::to_string(width) + " x " +
                            std::to_string(height) + " pixels");
      if (c.left < 0 || c.top < 0 || c.right > width || c.bottom > height)
        r_.Fail(n, key,
                "control " + std::to_string(c.id) + (c.name.empty() ? "" : " (" + c.name + ")") + " at " +
                    std::to_string(c.left) + "," + std::to_string(c.top) + " to " + std::to_string(c.right) +
                    "," + std::to_string(c.bottom) + " does not fit into the " + pane + " of " +
                    std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
  }

  void ReadPages(const toml::table* layout);
  void ReadBackdrop(const toml::table& root, const toml::table* layout, const ProductNames& names,
                    const std::string& title);
};

void AppearanceReader::ReadPages(const toml::table* lt) {
  const std::string lp = "layout";
  Layout& l = p_.layout;
  ImageChoice side, header;
  if (lt) {
    if (auto v = r_.Colour(*lt, "accent", lp)) colours_.accent = *v;
    side = ReadImage(*lt, "side_image", lp, side);
    header = ReadImage(*lt, "header_image", lp, header);
  }
  const toml::table* pages = lt ? r_.Table(*lt, "pages", lp) : nullptr;
  const std::string pp = "layout.pages";
  std::vector<const char*> pageKeys = {"all"};
  for (unsigned k = 0; k <= PageFinish; ++k) pageKeys.push_back(PageKindName(k));
  pageKeys.push_back("license");
  if (pages) r_.CheckKeys(*pages, pp, pageKeys);
  const toml::table* all = pages ? r_.Table(*pages, "all", pp) : nullptr;
  const std::vector<const char*> decorationKeys = {"flags", "colour", "text_colour", "edit_colour", "side_width",
                                                   "side_colour", "side_image", "header_height", "header_colour",
                                                   "header_text_colour", "header_image"};
  if (all) r_.CheckKeys(*all, pp + ".all", decorationKeys);

  ImageSet images(r_, colours_.accent);
  const bool rawTable = p_.imageTable.has_value();
  PageLayouts out;
  for (unsigned kind = 0; kind <= PageFinish; ++kind) {
    const std::string name = PageKindName(kind);
    const toml::table* own = pages ? r_.Table(*pages, name.c_str(), pp) : nullptr;
    std::string ownPath = pp + "." + name;
    if (!own && kind == PageLicence && pages && pages->get("license")) {
      own = r_.Table(*pages, "license", pp);
      ownPath = pp + ".license";
    }
    if (own) {
      std::vector<const char*> keys = decorationKeys;
      keys.push_back("standard");
      keys.push_back("controls");
      r_.CheckKeys(*own, ownPath, keys);
    }
    const bool standard = own ? r_.Bool(*own, "standard", ownPath).value_or(true) : true;
    PageSpec page = standard ? StandardPage(kind, colours_, 0, 0) : PageSpec{};
    ImageChoice pageSide = standard ? side : ImageChoice{}, pageHeader = standard ? header : ImageChoice{};
    if (!standard) pageSide.kind = pageHeader.kind = ImageChoice::None;
    if (all) ReadPageKeys(*all, pp + ".all", &page, &pageSide, &pageHeader);
    if (own) ReadPageKeys(*own, ownPath, &page, &pageSide, &pageHeader);

    // A raw image table brings its own numbers: the builder adds no pictures.
    for (ImageChoice* c : {&pageSide, &pageHeader}) {
      if (!rawTable) {
        if (c->kind == ImageChoice::Number)
          r_.Fail(c->node, c->key, "an image number needs a raw image table ('image_table'); give a PNG or BMP file");
        continue;
      }
      if (c->kind == ImageChoice::File)
        r_.Fail(c->node, c->key, "the project gives a raw image table ('image_table'); images are numbers then");
      if (c->kind == ImageChoice::Standard) c->kind = ImageChoice::None;
    }
    const i32 paneHeight = l.frameHeight - l.buttonBarHeight;
    page.sideImage = page.sideWidth > 0 ? images.Add(pageSide, true, page.sideBackground, page.sideWidth, paneHeight) : 0;
    page.headerImage =
        page.headerHeight > 0 ? images.Add(pageHeader, false, page.headerBackground, 0, 0) : 0;
    if (standard) {
      i32 headerImageWidth = page.headerImage ? images.Width(page.headerImage) : 0;
      if (pageHeader.kind == ImageChoice::Number) headerImageWidth = StandardEmblemSize;
      LayOutStandardControls(kind, l, headerImageWidth, &page);
    }
    const toml::node* where = own ? (const toml::node*)own : (const toml::node*)lt;
    if (own)
      if (const toml::table* controls = r_.Table(*own, "controls", ownPath))
        ReadControls(*controls, ownPath + ".controls", &page.controls, &page.headerControls);
    const i32 pw = l.frameWidth - page.sideWidth, ph = paneHeight - page.headerHeight;
    if (page.sideWidth > l.frameWidth || ph < 0)
      r_.Fail(where, ownPath, "the side pane and header leave no room for the page in a frame of " +
                                  std::to_string(l.frameWidth) + " x " + std::to_string(l.frameHeight) + " pixels");
    // Without a table of its own the page is the standard one: the frame
    // size is what to change.
    const std::string key = own ? ownPath : lp + " (the standard " + name + " page)";
    CheckInside(page.controls, pw, ph, where, key, "page");
    CheckInside(page.headerControls, pw, page.headerHeight, where, key, "header");
    out.entries[kind] = page;
  }
  out.buttonBar = StandardButtonBar(l);
  if (lt)
    if (const toml::table* buttons = r_.Table(*lt, "buttons", lp)) {
      ReadControls(*buttons, lp + ".buttons", &out.buttonBar, nullptr);
      CheckInside(out.buttonBar, l.frameWidth, l.buttonBarHeight, buttons, lp + ".buttons", "button bar");
    }
  l.pages = out;
  if (!images.Empty()) p_.imageTable = images.Table();
}

void AppearanceReader::ReadBackdrop(const toml::table& root, const toml::table* lt, const ProductNames& names,
                                    const std::string& title) {
  const std::string bp = "backdrop";
  const toml::table* b = r_.Table(root, "backdrop", "");
  Layout& l = p_.layout;
  const bool fullScreen = (l.flags & LayoutFlagFullScreen) != 0;
  if (b)
    r_.CheckKeys(*b, bp, {"colour", "colours", "picture", "pictures", "placement", "title", "title_colour",
                          "title_shadow", "title_align", "title_font", "maximised", "framed"});
  bool coloursGiven = lt && (lt->get("colour_a") || lt->get("colour_b"));
  if (b && b->get("colour") && b->get("colours")) r_.Fail(b->get("colours"), bp + ".colours", "give either 'colour' or 'colours'");
  if (b && (b->get("colour") || b->get("colours")) && coloursGiven)
    r_.Fail(b->get("colour") ? b->get("colour") : b->get("colours"), bp, "the backdrop colours are given in [layout] already");
  if (b) {
    if (auto v = r_.Colour(*b, "colour", bp)) {
      l.colourA = *v;
      l.flags &= ~LayoutFlagGradient;
      coloursGiven = true;
    }
    if (const toml::node* n = b->get("colours")) {
      const toml::array* a = n->as_array();
      if (!a || a->size() != 2) r_.Fail(n, bp + ".colours", "must be [top, bottom]");
      l.colourA = r_.ColourValue(a->get(0), bp + ".colours[0]");
      l.colourB = r_.ColourValue(a->get(1), bp + ".colours[1]");
      l.flags |= LayoutFlagGradient;
      coloursGiven = true;
    }
    if (auto v = r_.Bool(*b, "maximised", bp)) l.flags = *v ? l.flags | LayoutFlagMaximised : l.flags & ~LayoutFlagMaximised;
    if (auto v = r_.Bool(*b, "framed", bp)) l.flags = *v ? l.flags | LayoutFlagFramedBackdrop : l.flags & ~LayoutFlagFramedBackdrop;
  }
  // A full-screen backdrop without colours of its own: the accent colour
  // from top to a deep shade of it at the bottom.
  if (fullScreen && !coloursGiven && !(l.flags & LayoutFlagGradient)) {
    l.colourA = Blend(colours_.accent, 0, 10);
    l.colourB = Blend(colours_.accent, 0, 75);
    l.flags |= LayoutFlagGradient;
  }

  if (const toml::node* n = b ? b->get("placement") : nullptr) {
    std::string key = bp + ".placement";
    if (!n->is_string()) r_.Fail(n, key, "must be a placement name");
    std::string s = Lower(n->as_string()->get());
    size_t i = 0;
    while (i < std::size(PanePlaceNames) && s != PanePlaceNames[i]) ++i;
    if (i == std::size(PanePlaceNames)) {
      std::string list;
      for (const char* name : PanePlaceNames) list += (list.empty() ? "" : ", ") + std::string(name);
      r_.Fail(n, key, "unknown placement (known: " + list + ")");
    }
    l.flags = (l.flags & ~PlacementBits) | PanePlaceValues[i];
  } else if (b && (b->get("picture") || b->get("pictures")) && !(l.flags & PlacementBits)) {
    l.flags |= LayoutFlagCentreH | LayoutFlagCentreV;  // a picture without placement: centred
  }
  // Transparent parts of a picture are laid over the backdrop as the setup
  // program paints it on a screen `screenHeight` rows high: the solid
  // colour, or the gradient rows behind the picture where it is placed
  // (`fillsScreen`: a picture scaled to the screen, rows stretched).
  auto backdropRows = [&](i32 screenHeight, bool fillsScreen) -> RowBackground {
    const u32 a = l.colourA, b = l.colourB;
    const int64_t H = screenHeight;
    if (!(l.flags & LayoutFlagGradient) || (l.flags & LayoutFlagTile)) return [a](int, int) { return a; };
    if (fillsScreen || (l.flags & LayoutFlagStretch))
      return [=](int y, int h) { return GradientRow(a, b, (int64_t)y * H / std::max(1, h), H); };
    const u32 flags = l.flags;
    return [=](int y, int h) {
      int64_t top = 0;
      if (flags & LayoutFlagBottom) top = H - h;
      else if (flags & LayoutFlagCentreV) top = (H - h) / 2;
      return GradientRow(a, b, std::clamp<int64_t>(top + y, 0, H), H);
    };
  };
  // Pictures: one file at its own size, one file scaled to several screen
  // sizes, or a list of files each made for a screen size.
  if (b && b->get("picture") && b->get("pictures"))
    r_.Fail(b->get("pictures"), bp + ".pictures", "give either 'picture' or 'pictures'");
  auto screenSize = [&](const toml::node* n, const std::string& key) {
    const toml::array* a = n->as_array();
    if (!a || a->size() != 2) r_.Fail(n, key, "must be [width, height]");
    return std::pair<i32, i32>((i32)r_.IntValue(a->get(0), key + "[0]", 1, 100000),
                               (i32)r_.IntValue(a->get(1), key + "[1]", 1, 100000));
  };
  auto load = [&](const toml::node* n, const std::string& key, const RowBackground& rows) -> Rgb {
    std::string path = r_.PathValue(n, key);
    try {
      return DecodeImage(ReadWholeFile(path), rows);
    } catch (const BuildError& e) {
      r_.Fail(n, key, path + " " + e.what());
    }
  };
  // Without a screen size the gradient of a common 1,080-row screen is taken.
  const i32 usualHeight = 1080;
  const toml::node* picture = b ? b->get("picture") : nullptr;
  if (picture && picture->is_string()) {
    Rgb image = load(picture, bp + ".picture", backdropRows(usualHeight, false));
    p_.backdropPictures.push_back({image.width, image.height, BitmapFile(image)});
  } else if (picture && picture->is_table()) {
    const toml::table& t = *picture->as_table();
    const std::string key = bp + ".picture";
    r_.CheckKeys(t, key, {"file", "screens"});
    if (!t.get("file")) r_.Fail(picture, key, "needs 'file'");
    const toml::array* screens = t.get("screens") ? t.get("screens")->as_array() : nullptr;
    if (t.get("screens") && (!screens || screens->empty()))
      r_.Fail(t.get("screens"), key + ".screens", "must be a list of [width, height]");
    if (!screens) {
      Rgb image = load(t.get("file"), key + ".file", backdropRows(usualHeight, false));
      p_.backdropPictures.push_back({image.width, image.height, BitmapFile(image)});
    } else {
      for (size_t i = 0; i < screens->size(); ++i) {
        auto [w, h] = screenSize(screens->get(i), key + ".screens[" + std::to_string(i) + "]");
        if (w > MaxImageSide || h > MaxImageSide)
          r_.Fail(screens->get(i), key + ".screens[" + std::to_string(i) + "]",
                  "a picture may have at most " + std::to_string(MaxImageSide) + " pixels each way");
        Rgb image = load(t.get("file"), key + ".file", backdropRows(h, true));
        p_.backdropPictures.push_back({w, h, BitmapFile(ScaleImage(image, w, h))});
      }
    }
  } else if (picture) {
    r_.Fail(picture, bp + ".picture", "must be a PNG or BMP file or { file, screens }");
  }
  if (const toml::node* n = b ? b->get("pictures") : nullptr) {
    const toml::array* a = n->as_array();
    if (!a || a->empty()) r_.Fail(n, bp + ".pictures", "must be a list of { file, screen }");
    for (size_t i = 0; i < a->size(); ++i) {
      const std::string key = bp + ".pictures[" + std::to_string(i) + "]";
      const toml::table* t = a->get(i)->as_table();
      if (!t || !t->get("file")) r_.Fail(a->get(i), key, "must be { file = \"picture.png\", screen = [width, height] }");
      r_.CheckKeys(*t, key, {"file", "screen"});
      std::pair<i32, i32> screen{0, 0};
      if (t->get("screen")) screen = screenSize(t->get("screen"), key + ".screen");
      Rgb image = load(t->get("file"), key + ".file", backdropRows(screen.second ? screen.second : usualHeight, false));
      if (!t->get("screen")) screen = {image.width, image.height};
      p_.backdropPictures.push_back({screen.first, screen.second, BitmapFile(image)});
    }
  }
  if (!p_.backdropPictures.empty() && !fullScreen)
    r_.Warn(picture ? picture : b->get("pictures"), bp,
            "the backdrop picture is shown only in full-screen mode ([layout] flags = [\"fullscreen\"])");

  // The title: the product in full-screen mode unless the project says
  // otherwise.
  std::optional<std::string> text;
  if (const toml::node* n = b ? b->get("title") : nullptr) {
    if (n->is_boolean() && !n->as_boolean()->get()) text = std::nullopt;
    else if (n->is_string()) text = r_.Ansi(n->as_string()->get(), n, bp + ".title");
    else r_.Fail(n, bp + ".title", "must be a text or false");
    if (text && !fullScreen)
      r_.Warn(n, bp + ".title", "the backdrop title is shown only in full-screen mode ([layout] flags = [\"fullscreen\"])");
  } else if (fullScreen) {
    text = names.Display(title);
  }
  if (text && !text->empty()) {
    p_.backdropTitle = *text;
    u32 colour = 0x00FFFFFF, shadow = Blend(colours_.accent, 0, 70);
    bool right = false;
    LogFont font;
    font.faceName = "Segoe UI";
    font.height = -40;
    font.weight = 600;
    font.charSet = 1;
    font.quality = 5;
    font.pitchAndFamily = 0x22;
    if (b) {
      if (auto v = r_.Colour(*b, "title_colour", bp)) colour = *v;
      if (auto v = r_.Colour(*b, "title_shadow", bp)) shadow = *v;
      if (auto v = r_.Text(*b, "title_align", bp)) {
        if (*v != "left" && *v != "right") r_.Fail(b->get("title_align"), bp + ".title_align", "must be \"left\" or \"right\"");
        right = *v == "right";
      }
      if (const toml::table* f = r_.Table(*b, "title_font", bp)) {
        const std::string fp = bp + ".title_font";
        r_.CheckKeys(*f, fp, {"face", "height", "weight", "italic"});
        if (auto v = r_.Text(*f, "face", fp)) {
          if (v->size() > 31) r_.Fail(f->get("face"), fp + ".face", "a font name has at most 31 bytes");
          font.faceName = *v;
        }
        if (auto v = r_.Int(*f, "height", fp, -1000, 1000)) font.height = (i32)*v;
        if (auto v = r_.Int(*f, "weight", fp, 0, 1000)) font.weight = (i32)*v;
        if (auto v = r_.Bool(*f, "italic", fp)) font.italic = *v;
      }
    }
    p_.titleStyle = EncodeTitleStyle(shadow, colour, right, font);
  }
}

void AppearanceReader::Read(const toml::table& root, const ProductNames& names, const std::string& title) {
  const toml::table* lt = r_.Table(root, "layout", "");
  ReadPages(lt);
  ReadBackdrop(root, lt, names, title);
}

}  // namespace

void ReadAppearance(const toml::table& root, const ProductNames& names, const std::string& title,
                    const ProjectContext& context, Project* project) {
  AppearanceReader(context, project).Read(root, names, title);
}

}  // namespace setrunc
