// The SVG page of MapsmithView: panels of cells on one grid (value panels on
// the viridis scale with a legend, colour panels, hit markers, label panels),
// a heading and a caption, written as one self-contained SVG 1.1 document
// (no scripts, no external references, every text XML-escaped). The page
// knows nothing of maps: the tool fills a Page and hands it over.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "DataObject/Labels.h"

namespace mapsmith {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// The viridis scale at t (clamped to [0, 1]): linear between eleven stops in
// sRGB, from #440154 at 0 to #fde725 at 1.
Rgb Viridis(double t);
// "#rrggbb", lower case.
std::string HexColour(Rgb colour);

// `text` as it may stand in XML character data and in quoted attribute
// values: & < > " ' become entities; tab, line feed and carriage return become
// character references (so attributes keep them); UTF-8 sequences are kept
// byte for byte. Bytes that are not well-formed UTF-8, and characters XML
// cannot hold (other control characters, U+FFFE, U+FFFF), become U+FFFD.
std::string EscapeXml(std::string_view text);
// `text` with what EscapeXml would replace by U+FFFD replaced, and nothing
// escaped: well-formed UTF-8 of XML characters only.
std::string ValidXmlText(std::string_view text);
// At most `maxChars` characters (code points) of well-formed UTF-8 `text`: the
// text itself when short enough, else its first maxChars - 1 characters and
// "…". Never splits a character.
std::string ShortenText(std::string_view text, std::size_t maxChars);

enum class PanelKind {
  Values,   // cells on the viridis scale from `low` to `high`, with a legend
  Colours,  // cells in the colours given
  Labels,   // white cells with the first label written in, all of them in <title>
  Hits,     // white cells with hit markers
};

// One panel: a title and one cell per grid position, row-major
// (rows x columns of the Page).
struct Panel {
  PanelKind kind = PanelKind::Values;
  std::string title;
  // Values: one per cell. The scale runs from low (first colour) to high
  // (last colour); equal ends draw every cell in the middle colour. A value
  // that is not finite is drawn grey.
  std::vector<double> values;
  double low = 0.0;
  double high = 0.0;
  // Colours: one per cell.
  std::vector<Rgb> colours;
  // Hits (Hits panels, and markers on Values panels when not empty): one
  // count per cell; a marker's area is in proportion to count / maxHits.
  std::vector<std::int32_t> hits;
  std::int32_t maxHits = 0;
  // Labels: one list per cell, most frequent first (the first is written in
  // the cell, the whole list in the cell's <title>).
  std::vector<std::vector<TLabel>> labels;
};

struct Page {
  std::string title;                  // heading and the document's <title>
  int rows = 1;                       // the grid of every panel
  int columns = 1;
  std::vector<Panel> panels;          // side by side, large cells
  std::vector<Panel> planes;          // below, small cells, in rows
  std::string planesHeading;          // above the small panels
  std::vector<std::string> caption;   // lines at the bottom
};

// Cell sizes in pixels for a grid: large for the main panels, small for the
// planes, so that maps up to 100 x 100 stay readable at 100 % zoom. A labels
// panel's cells are large ones, but never under 24 pixels, so that the text
// in them stays readable; on large maps that panel is larger than the others.
int LargeCellSize(int rows, int columns);
int SmallCellSize(int rows, int columns);
int LabelCellSize(int rows, int columns);

// Writes the page. Preconditions: rows and columns at least 1; each panel's
// arrays for its kind hold rows x columns entries. Stream errors are the
// caller's to check.
void WriteSvgPage(const Page& page, std::ostream& out);

}  // namespace mapsmith
