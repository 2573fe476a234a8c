#include "Kohonen/View/SvgPage.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ostream>

#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"

namespace mapsmith {

namespace {

// Eleven evenly spaced stops of the viridis scale.
constexpr std::array<Rgb, 11> kViridisStops = {{
    {0x44, 0x01, 0x54}, {0x48, 0x25, 0x76}, {0x41, 0x44, 0x87}, {0x35, 0x60, 0x8d},
    {0x2a, 0x78, 0x8e}, {0x21, 0x90, 0x8c}, {0x22, 0xa8, 0x84}, {0x43, 0xbf, 0x71},
    {0x7a, 0xd1, 0x51}, {0xbb, 0xdf, 0x27}, {0xfd, 0xe7, 0x25},
}};

// Layout, in pixels.
constexpr int kMargin = 20;
constexpr int kHeadingSize = 18;
constexpr int kSectionSize = 15;
constexpr int kTitleSize = 13;
constexpr int kTitleBand = 22;    // a panel's title above its grid
constexpr int kLegendBand = 38;   // gap, bar and numbers below a grid
constexpr int kLegendBar = 10;
constexpr int kLegendSize = 10;
constexpr int kGap = 24;
constexpr int kMinPanelWidth = 160;
// The smallest cell of a labels panel: its text is then 0.36 of it, 8.64
// pixels, still readable at 100 % zoom, with room for 4 characters.
constexpr int kMinLabelCell = 24;
constexpr int kPlanesRowWidth = 960;  // planes wrap here unless the panels are wider
constexpr int kCaptionSize = 12;
constexpr int kCaptionLine = 18;
constexpr const char* kNoValue = "#999999";
constexpr int kPaletteSize = 256;

// Characters (code points) of well-formed UTF-8.
std::size_t CountChars(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// A rough width of text in a sans-serif font of `size` pixels.
double TextWidth(std::string_view text, double size) { return static_cast<double>(CountChars(text)) * 0.6 * size; }

std::size_t CharsThatFit(double width, double size) {
  return width <= 0 ? 0 : static_cast<std::size_t>(width / (0.6 * size));
}

// The length of the well-formed UTF-8 sequence at text[i] that encodes an
// XML character, or 0.
std::size_t XmlCharLength(std::string_view text, std::size_t i) {
  auto at = [&](std::size_t k) -> unsigned { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  auto tail = [&](std::size_t k) { return (at(k) & 0xC0) == 0x80; };
  const unsigned c = at(i);
  if (c < 0x80) return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  if (c >= 0xC2 && c <= 0xDF) return tail(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned c1 = at(i + 1);
    if (c == 0xE0 && c1 < 0xA0) return 0;  // overlong
    if (c == 0xED && c1 > 0x9F) return 0;  // surrogates
    if (!tail(i + 1) || !tail(i + 2)) return 0;
    if (c == 0xEF && c1 == 0xBF && (at(i + 2) == 0xBE || at(i + 2) == 0xBF)) return 0;  // U+FFFE, U+FFFF
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned c1 = at(i + 1);
    if (c == 0xF0 && c1 < 0x90) return 0;  // overlong
    if (c == 0xF4 && c1 > 0x8F) return 0;  // beyond U+10FFFF
    return tail(i + 1) && tail(i + 2) && tail(i + 3) ? 4 : 0;
  }
  return 0;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Collects the document and hands it to the stream in large pieces.
class SvgWriter {
 public:
  explicit SvgWriter(std::ostream& out) : out_(out) { buffer_.reserve(kChunk + 4096); }
  ~SvgWriter() = default;

  SvgWriter& operator<<(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kChunk) Flush();
    return *this;
  }
  SvgWriter& operator<<(char c) {
    buffer_.push_back(c);
    return *this;
  }
  SvgWriter& operator<<(int value) { return Integer(value); }
  SvgWriter& operator<<(long long value) { return Integer(value); }
  // A coordinate or size with at most two decimals, trailing zeros dropped.
  SvgWriter& operator<<(double value) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    MAPSMITH_ASSERT(ec == std::errc());
    char* last = end;
    while (last > text && last[-1] == '0') --last;
    if (last > text && last[-1] == '.') --last;
    std::string_view shown(text, static_cast<std::size_t>(last - text));
    if (shown == "-0") shown = "0";
    return *this << shown;
  }
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

 private:
  template <class T>
  SvgWriter& Integer(T value) {
    char text[24];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    MAPSMITH_ASSERT(ec == std::errc());
    buffer_.append(text, end);
    return *this;
  }

  static constexpr std::size_t kChunk = 1 << 16;
  std::ostream& out_;
  std::string buffer_;
};

// A number for a legend: three significant digits.
std::string LegendNumber(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 3);
  MAPSMITH_ASSERT(ec == std::errc());
  std::string shown(text, end);
  return shown == "-0" ? "0" : shown;
}

// The scale's colours as "#rrggbb", indexed by round(t * 255), and after
// them the middle of the scale.
const std::array<std::string, kPaletteSize + 1>& Palette() {
  static const std::array<std::string, kPaletteSize + 1> palette = [] {
    std::array<std::string, kPaletteSize + 1> p;
    for (int i = 0; i < kPaletteSize; ++i) p[i] = HexColour(Viridis(i / double(kPaletteSize - 1)));
    p[kPaletteSize] = HexColour(Viridis(0.5));  // for a scale whose ends are equal
    return p;
  }();
  return palette;
}

// The colour of one value on a panel's scale.
class Scale {
 public:
  Scale(double low, double high) : low_(low / 2), span_(high / 2 - low / 2) {}  // halves cannot overflow
  std::string_view operator()(double value) const {
    if (!std::isfinite(value)) return kNoValue;
    if (!(span_ > 0)) return Palette()[kPaletteSize];
    const double t = (value / 2 - low_) / span_;
    if (!(t >= 0)) return Palette().front();
    if (t >= 1) return Palette()[kPaletteSize - 1];
    return Palette()[static_cast<std::size_t>(std::lround(t * (kPaletteSize - 1)))];
  }

 private:
  double low_;
  double span_;
};

struct Geometry {
  int rows;
  int columns;
  int cell;
  int width;   // of the panel (at least the grid's)
  int height;  // title band, grid and legend band
};

Geometry PanelGeometry(const Page& page, int cell) {
  Geometry g{page.rows, page.columns, cell, 0, 0};
  g.width = std::max(page.columns * cell, kMinPanelWidth);
  g.height = kTitleBand + page.rows * cell + kLegendBand;
  return g;
}

// "red 3, green 1".
std::string LabelListText(const std::vector<TLabel>& labels) {
  std::string text;
  char buffer[FileTools::GeneralNumberSize];
  for (const TLabel& label : labels) {
    if (!text.empty()) text += ", ";
    text += label.name;
    text += ' ';
    text += FileTools::FormatGeneral(label.value, buffer);
  }
  return text;
}

void WriteTitle(SvgWriter& w, std::string_view title, double maxWidth, int x, int baseline, int size,
                bool bold) {
  const std::string clean = ValidXmlText(title);
  const std::string shown = ShortenText(clean, CharsThatFit(maxWidth, size));
  w << "<text x=\"" << x << "\" y=\"" << baseline << "\" font-size=\"" << size << '"';
  if (bold) w << " font-weight=\"bold\"";
  w << '>' << EscapeXml(shown);
  if (shown != clean) w << "<title>" << EscapeXml(clean) << "</title>";
  w << "</text>\n";
}

void WriteCells(SvgWriter& w, const Panel& panel, const Geometry& g) {
  const int cell = g.cell;
  switch (panel.kind) {
    case PanelKind::Values:
    case PanelKind::Colours: {
      const Scale scale(panel.low, panel.high);
      std::string hex;
      w << "<g class=\"cells\" shape-rendering=\"crispEdges\">\n";
      for (int r = 0; r < g.rows; ++r) {
        for (int c = 0; c < g.columns; ++c) {
          const std::size_t k = static_cast<std::size_t>(r) * g.columns + c;
          std::string_view fill;
          if (panel.kind == PanelKind::Values) {
            fill = scale(panel.values[k]);
          } else {
            hex = HexColour(panel.colours[k]);
            fill = hex;
          }
          w << "<rect x=\"" << c * cell << "\" y=\"" << r * cell << "\" width=\"" << cell << "\" height=\""
            << cell << "\" fill=\"" << fill << "\"/>\n";
        }
      }
      w << "</g>\n";
      return;
    }
    case PanelKind::Labels:
    case PanelKind::Hits: {
      w << "<g class=\"cells\" fill=\"#ffffff\" stroke=\"#d9d9d9\" shape-rendering=\"crispEdges\">\n";
      for (int r = 0; r < g.rows; ++r) {
        for (int c = 0; c < g.columns; ++c) {
          const std::size_t k = static_cast<std::size_t>(r) * g.columns + c;
          w << "<rect x=\"" << c * cell << "\" y=\"" << r * cell << "\" width=\"" << cell << "\" height=\""
            << cell << '"';
          if (panel.kind == PanelKind::Labels && !panel.labels[k].empty())
            w << "><title>" << EscapeXml(LabelListText(panel.labels[k])) << "</title></rect>\n";
          else
            w << "/>\n";
        }
      }
      w << "</g>\n";
      return;
    }
  }
}

// The first label of each cell, written in it as far as it fits (the
// cell's <title> names them all).
void WriteLabelTexts(SvgWriter& w, const Panel& panel, const Geometry& g) {
  MAPSMITH_ASSERT(g.cell >= kMinLabelCell);
  const double size = std::min(11.0, 0.36 * g.cell);
  const std::size_t fit = CharsThatFit(0.9 * g.cell, size);
  w << "<g class=\"labels\" font-size=\"" << size << "\" text-anchor=\"middle\" pointer-events=\"none\">\n";
  for (int r = 0; r < g.rows; ++r) {
    for (int c = 0; c < g.columns; ++c) {
      const std::size_t k = static_cast<std::size_t>(r) * g.columns + c;
      if (panel.labels[k].empty()) continue;
      const std::string shown = ShortenText(ValidXmlText(panel.labels[k].front().name), fit);
      w << "<text x=\"" << (c + 0.5) * g.cell << "\" y=\"" << (r + 0.5) * g.cell + 0.35 * size << "\">"
        << EscapeXml(shown) << "</text>\n";
    }
  }
  w << "</g>\n";
}

// Circles whose area follows the count; each names its count on hover.
void WriteHitMarkers(SvgWriter& w, const Panel& panel, const Geometry& g) {
  w << "<g class=\"hits\" fill=\"#ffffff\" stroke=\"#000000\" stroke-width=\"0.75\">\n";
  const double most = std::max<std::int32_t>(panel.maxHits, 1);
  for (int r = 0; r < g.rows; ++r) {
    for (int c = 0; c < g.columns; ++c) {
      const std::int32_t count = panel.hits[static_cast<std::size_t>(r) * g.columns + c];
      if (count <= 0) continue;
      const double radius = std::max(0.75, 0.45 * g.cell * std::sqrt(std::min(count / most, 1.0)));
      w << "<circle cx=\"" << (c + 0.5) * g.cell << "\" cy=\"" << (r + 0.5) * g.cell << "\" r=\"" << radius
        << "\"><title>" << static_cast<long long>(count) << (count == 1 ? " hit" : " hits")
        << "</title></circle>\n";
    }
  }
  w << "</g>\n";
}

void WriteLegend(SvgWriter& w, const Panel& panel, const Geometry& g) {
  const int top = kTitleBand + g.rows * g.cell + 8;
  const int baseline = top + kLegendBar + kLegendSize + 3;
  const double middle = panel.low / 2 + panel.high / 2;
  w << "<g class=\"legend\" font-size=\"" << kLegendSize << "\">\n"
    << "<rect x=\"0\" y=\"" << top << "\" width=\"" << g.width << "\" height=\"" << kLegendBar
    << "\" fill=\"url(#viridis)\"/>\n"
    << "<text x=\"0\" y=\"" << baseline << "\">" << LegendNumber(panel.low) << "</text>\n"
    << "<text x=\"" << g.width / 2.0 << "\" y=\"" << baseline << "\" text-anchor=\"middle\">"
    << LegendNumber(middle) << "</text>\n"
    << "<text x=\"" << g.width << "\" y=\"" << baseline << "\" text-anchor=\"end\">" << LegendNumber(panel.high)
    << "</text>\n</g>\n";
}

void WritePanel(SvgWriter& w, const Panel& panel, const Geometry& g, int x, int y, int number) {
  w << "<g id=\"panel" << number << "\" class=\"panel\" transform=\"translate(" << x << ',' << y << ")\">\n";
  WriteTitle(w, panel.title, g.width, 0, kTitleSize + 2, kTitleSize, false);
  w << "<g transform=\"translate(0," << kTitleBand << ")\">\n";
  WriteCells(w, panel, g);
  if (panel.kind == PanelKind::Labels) WriteLabelTexts(w, panel, g);
  if ((panel.kind == PanelKind::Hits || panel.kind == PanelKind::Values) && !panel.hits.empty())
    WriteHitMarkers(w, panel, g);
  w << "</g>\n";
  if (panel.kind == PanelKind::Values) WriteLegend(w, panel, g);
  w << "</g>\n";
}

void CheckPanel(const Panel& panel, std::size_t cells) {
  switch (panel.kind) {
    case PanelKind::Values:
      MAPSMITH_ASSERT(panel.values.size() == cells);
      break;
    case PanelKind::Colours:
      MAPSMITH_ASSERT(panel.colours.size() == cells);
      break;
    case PanelKind::Labels:
      MAPSMITH_ASSERT(panel.labels.size() == cells);
      break;
    case PanelKind::Hits:
      MAPSMITH_ASSERT(panel.hits.size() == cells);
      break;
  }
  MAPSMITH_ASSERT(panel.hits.empty() || panel.hits.size() == cells);
}

}  // namespace

Rgb Viridis(double t) {
  if (!(t > 0)) return kViridisStops.front();
  if (t >= 1) return kViridisStops.back();
  const double position = t * (kViridisStops.size() - 1);
  const std::size_t i = static_cast<std::size_t>(position);
  const double f = position - static_cast<double>(i);
  const Rgb a = kViridisStops[i];
  const Rgb b = kViridisStops[i + 1];
  auto mix = [f](std::uint8_t x, std::uint8_t y) {
    return static_cast<std::uint8_t>(std::lround(x + (static_cast<double>(y) - x) * f));
  };
  return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

std::string HexColour(Rgb colour) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text = "#000000";
  const std::uint8_t parts[] = {colour.r, colour.g, colour.b};
  for (int i = 0; i < 3; ++i) {
    text[1 + 2 * i] = kDigits[parts[i] >> 4];
    text[2 + 2 * i] = kDigits[parts[i] & 15];
  }
  return text;
}

std::string ValidXmlText(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = XmlCharLength(text, i);
    if (length == 0) {
      result += kReplacement;
      ++i;
    } else {
      result.append(text.substr(i, length));
      i += length;
    }
  }
  return result;
}

std::string EscapeXml(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = XmlCharLength(text, i);
    if (length == 0) {
      result += kReplacement;
      ++i;
      continue;
    }
    if (length == 1) {
      switch (text[i]) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&apos;"; break;
        case '\t': result += "&#9;"; break;
        case '\n': result += "&#10;"; break;
        case '\r': result += "&#13;"; break;
        default: result += text[i];
      }
    } else {
      result.append(text.substr(i, length));
    }
    i += length;
  }
  return result;
}

std::string ShortenText(std::string_view text, std::size_t maxChars) {
  if (CountChars(text) <= maxChars) return std::string(text);
  if (maxChars == 0) return {};
  std::size_t end = 0;
  for (std::size_t kept = 0; kept < maxChars - 1; ++kept) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return std::string(text.substr(0, end)) + "\xE2\x80\xA6";
}

int LargeCellSize(int rows, int columns) { return std::clamp(480 / std::max({rows, columns, 1}), 6, 48); }
int SmallCellSize(int rows, int columns) { return std::clamp(200 / std::max({rows, columns, 1}), 2, 24); }
int LabelCellSize(int rows, int columns) { return std::max(LargeCellSize(rows, columns), kMinLabelCell); }

void WriteSvgPage(const Page& page, std::ostream& out) {
  MAPSMITH_ASSERT(page.rows >= 1 && page.columns >= 1);
  const std::size_t cells = static_cast<std::size_t>(page.rows) * static_cast<std::size_t>(page.columns);
  for (const Panel& panel : page.panels) CheckPanel(panel, cells);
  for (const Panel& panel : page.planes) CheckPanel(panel, cells);

  // Where everything goes, then how large the page is.
  const Geometry large = PanelGeometry(page, LargeCellSize(page.rows, page.columns));
  const Geometry labelled = PanelGeometry(page, LabelCellSize(page.rows, page.columns));
  const Geometry small = PanelGeometry(page, SmallCellSize(page.rows, page.columns));
  auto geometryOf = [&](const Panel& panel) -> const Geometry& {
    return panel.kind == PanelKind::Labels ? labelled : large;
  };
  const int count = static_cast<int>(page.panels.size());
  int panelsWidth = 0;
  int panelsHeight = 0;
  for (const Panel& panel : page.panels) {
    panelsWidth += (panelsWidth > 0 ? kGap : 0) + geometryOf(panel).width;
    panelsHeight = std::max(panelsHeight, geometryOf(panel).height);
  }
  const int planes = static_cast<int>(page.planes.size());
  const int perRow = std::max(1, (std::max(panelsWidth, kPlanesRowWidth) + kGap) / (small.width + kGap));
  const int planesPerRow = std::min(perRow, std::max(planes, 1));
  const int planesWidth = planes > 0 ? planesPerRow * (small.width + kGap) - kGap : 0;
  const int planeRows = (planes + planesPerRow - 1) / planesPerRow;

  double width = std::max(panelsWidth, planesWidth);
  width = std::max(width, TextWidth(ValidXmlText(page.title), kHeadingSize));
  for (const std::string& line : page.caption) width = std::max(width, TextWidth(ValidXmlText(line), kCaptionSize));
  const int pageWidth = 2 * kMargin + static_cast<int>(std::ceil(width));

  const int headingBaseline = kMargin + kHeadingSize;
  int y = headingBaseline + 16;
  const int panelsTop = y;
  if (count > 0) y += panelsHeight + kGap;
  const int planesHeadingBaseline = y + kSectionSize;
  const int planesTop = y + kSectionSize + 12;
  if (planes > 0) y = planesTop + planeRows * (small.height + kGap);
  const int captionTop = y;
  const int pageHeight = captionTop + static_cast<int>(page.caption.size()) * kCaptionLine + kMargin;

  SvgWriter w(out);
  w << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << pageWidth << "\" height=\""
    << pageHeight << "\" viewBox=\"0 0 " << pageWidth << ' ' << pageHeight
    << "\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" fill=\"#222222\">\n"
    << "<title>" << EscapeXml(page.title) << "</title>\n"
    << "<defs>\n<linearGradient id=\"viridis\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\">\n";
  for (std::size_t i = 0; i < kViridisStops.size(); ++i)
    w << "<stop offset=\"" << static_cast<double>(i) / (kViridisStops.size() - 1) << "\" stop-color=\""
      << HexColour(kViridisStops[i]) << "\"/>\n";
  w << "</linearGradient>\n</defs>\n"
    << "<rect x=\"0\" y=\"0\" width=\"" << pageWidth << "\" height=\"" << pageHeight << "\" fill=\"#ffffff\"/>\n";
  WriteTitle(w, page.title, 1e9, kMargin, headingBaseline, kHeadingSize, true);

  int number = 0;
  int x = kMargin;
  for (const Panel& panel : page.panels) {
    WritePanel(w, panel, geometryOf(panel), x, panelsTop, ++number);
    x += geometryOf(panel).width + kGap;
  }
  if (planes > 0) {
    WriteTitle(w, page.planesHeading, 1e9, kMargin, planesHeadingBaseline, kSectionSize, true);
    for (int i = 0; i < planes; ++i)
      WritePanel(w, page.planes[i], small, kMargin + (i % planesPerRow) * (small.width + kGap),
                 planesTop + (i / planesPerRow) * (small.height + kGap), ++number);
  }
  for (std::size_t i = 0; i < page.caption.size(); ++i)
    WriteTitle(w, page.caption[i], 1e9, kMargin, captionTop + static_cast<int>(i) * kCaptionLine + kCaptionSize,
               kCaptionSize, false);
  w << "</svg>\n";
  w.Flush();
}

}  // namespace mapsmith
