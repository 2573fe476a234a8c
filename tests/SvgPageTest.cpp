#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "Kohonen/View/SvgPage.h"
#include "SvgChecks.h"

using namespace mapsmith;
using namespace svgchecks;

namespace {

std::string Write(const Page& page) {
  std::ostringstream out;
  WriteSvgPage(page, out);
  return out.str();
}

Panel ValuesPanel(std::string title, std::vector<double> values) {
  Panel panel;
  panel.title = std::move(title);
  panel.values = std::move(values);
  panel.low = panel.high = 0;
  bool first = true;
  for (double v : panel.values) {
    if (!std::isfinite(v)) continue;
    if (first || v < panel.low) panel.low = v;
    if (first || v > panel.high) panel.high = v;
    first = false;
  }
  return panel;
}

// A 2 x 3 page with every kind of panel, names and labels that need escaping.
Page EveryKind() {
  Page page;
  page.title = "Map <\"a\" & 'b'> grün";
  page.rows = 2;
  page.columns = 3;
  Panel values = ValuesPanel("U-matrix", {0.5, -2, 7, 1, 2, 3});
  values.hits = {0, 1, 5, 0, 2, 0};
  values.maxHits = 5;
  page.panels.push_back(values);
  Panel colours;
  colours.kind = PanelKind::Colours;
  colours.title = "Colours";
  colours.colours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}, {255, 255, 255}, {18, 52, 86}};
  page.panels.push_back(colours);
  Panel hits;
  hits.kind = PanelKind::Hits;
  hits.title = "Hits";
  hits.hits = {3, 0, 0, 0, 0, 1};
  hits.maxHits = 3;
  page.panels.push_back(hits);
  Panel labels;
  labels.kind = PanelKind::Labels;
  labels.title = "Labels";
  labels.labels.resize(6);
  labels.labels[0] = {TLabel("a<b&c", 3), TLabel("\"q'", 1)};
  labels.labels[2] = {TLabel("日本語テキスト", 2)};
  labels.labels[4] = {TLabel("grün", 1)};
  page.panels.push_back(labels);
  page.planes.push_back(ValuesPanel("<width> & \"height\"", {1, 2, 3, 4, 5, 6}));
  page.planes.push_back(ValuesPanel("Input 2", {9, 9, 9, 9, 9, 9}));
  page.planesHeading = "Component planes";
  page.caption = {"Map a&b.net: 2 x 3 neurons", "Data: 7 rows"};
  return page;
}

}  // namespace

TEST(SvgTextTest, EscapesMarkupAndKeepsUtf8) {
  EXPECT_EQ(EscapeXml("<a href=\"x\">Tom & 'Jerry'</a>"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; &apos;Jerry&apos;&lt;/a&gt;");
  EXPECT_EQ(EscapeXml("grün · 日本 · 😀"), "grün · 日本 · 😀");
  EXPECT_EQ(EscapeXml("a\tb\nc\rd"), "a&#9;b&#10;c&#13;d");
}

// Bytes that are not well-formed UTF-8, and characters XML cannot hold, would
// make the whole page unreadable: each becomes U+FFFD.
TEST(SvgTextTest, ReplacesWhatXmlCannotHold) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(EscapeXml("a\x01" "b"), "a" + r + "b");
  EXPECT_EQ(EscapeXml("\xC3"), r);                          // cut short
  EXPECT_EQ(EscapeXml("x\xC3(y"), "x" + r + "(y");          // broken sequence
  EXPECT_EQ(EscapeXml("\xC0\xAF"), r + r);                  // overlong '/'
  EXPECT_EQ(EscapeXml("\xED\xA0\x80"), r + r + r);          // a surrogate
  EXPECT_EQ(EscapeXml("\xF4\x90\x80\x80"), r + r + r + r);  // beyond U+10FFFF
  EXPECT_EQ(EscapeXml("\xEF\xBF\xBE"), r + r + r);          // U+FFFE
  EXPECT_EQ(ValidXmlText("a<\x02>\xFF"), "a<" + r + ">" + r);
  EXPECT_EQ(ValidXmlText("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(SvgTextTest, ShortensByCharacters) {
  EXPECT_EQ(ShortenText("averyverylonglabel", 5), "aver…");
  EXPECT_EQ(ShortenText("red", 3), "red");
  EXPECT_EQ(ShortenText("日本語テキスト", 3), "日本…");
  EXPECT_EQ(ShortenText("ü😀ü", 3), "ü😀ü");
  EXPECT_EQ(ShortenText("ü😀üx", 3), "ü😀…");
  EXPECT_EQ(ShortenText("abc", 1), "…");
  EXPECT_EQ(ShortenText("abc", 0), "");
}

TEST(SvgColourTest, ViridisEndsAndClamping) {
  EXPECT_EQ(HexColour(Viridis(0)), "#440154");
  EXPECT_EQ(HexColour(Viridis(1)), "#fde725");
  EXPECT_EQ(HexColour(Viridis(0.5)), "#21908c");
  EXPECT_EQ(HexColour(Viridis(-3)), "#440154");
  EXPECT_EQ(HexColour(Viridis(7)), "#fde725");
  EXPECT_EQ(HexColour(Viridis(std::nan(""))), "#440154");
  EXPECT_EQ(HexColour(Rgb{18, 52, 171}), "#1234ab");
}

TEST(SvgPageTest, IsWellFormedXml) {
  if (!HaveXmlChecker()) GTEST_SKIP() << kNoXmlChecker;
  EXPECT_EQ(XmlError(Write(EveryKind())), "");
  // The checker itself catches what the writer must avoid.
  EXPECT_NE(XmlError("<svg><text>a & b</text></svg>"), "");
  EXPECT_NE(XmlError("<svg><text>\xC3(</text></svg>"), "");
  // Hostile names: broken UTF-8, control characters, markup.
  Page page = EveryKind();
  page.title = "\x01\xFF<svg>";
  page.planes[0].title = "\xED\xA0\x80]]>&#0;";
  page.panels[3].labels[1] = {TLabel("\x1B[31m\xC3", 1)};
  EXPECT_EQ(XmlError(Write(page)), "");
}

TEST(SvgPageTest, OneCellPerGridPositionInEveryPanel) {
  const std::string svg = Write(EveryKind());
  const std::vector<std::string> groups = CellGroups(svg);
  ASSERT_EQ(groups.size(), 6u);  // four panels, two planes
  for (const std::string& cells : groups) EXPECT_EQ(Count(cells, "<rect "), 6) << cells;
  EXPECT_EQ(Count(svg, "class=\"panel\""), 6);
  EXPECT_EQ(Count(svg, "<script"), 0);
  EXPECT_EQ(Count(svg, "href"), 0);
}

// The lowest value gets the first colour of the scale, the highest the last;
// values that are not finite are grey, and a panel whose values are all
// equal is drawn in the middle colour.
TEST(SvgPageTest, ScaleEndsForLowestAndHighestValue) {
  Page page = EveryKind();
  page.panels[0].values[5] = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::string> groups = CellGroups(Write(page));
  EXPECT_EQ(Fills(groups[0]), (std::vector<std::string>{Fills(groups[0])[0], "#440154", "#fde725",
                                                         Fills(groups[0])[3], Fills(groups[0])[4], "#999999"}));
  // 0.5 lies at 2.5/9 of the way from -2 to 7: colour index round(0.2778 * 255) = 71.
  EXPECT_EQ(Fills(groups[0])[0], HexColour(Viridis(71 / 255.0)));
  EXPECT_EQ(Fills(groups[1]), (std::vector<std::string>{"#ff0000", "#00ff00", "#0000ff", "#000000", "#ffffff",
                                                         "#123456"}));
  EXPECT_EQ(Fills(groups[4]).front(), "#440154");
  EXPECT_EQ(Fills(groups[4]).back(), "#fde725");
  EXPECT_EQ(Fills(groups[5]), std::vector<std::string>(6, HexColour(Viridis(0.5))));
}

TEST(SvgPageTest, LegendsGiveBothEndsAndTheMiddle) {
  const std::string svg = Write(EveryKind());
  std::size_t from = 0;
  std::string_view legend = Between(svg, "<g class=\"legend\"", "</g>", from);
  EXPECT_NE(legend.find(">-2</text>"), std::string_view::npos) << legend;
  EXPECT_NE(legend.find(">2.5</text>"), std::string_view::npos) << legend;
  EXPECT_NE(legend.find(">7</text>"), std::string_view::npos) << legend;
  EXPECT_NE(legend.find("url(#viridis)"), std::string_view::npos);
  EXPECT_EQ(Count(svg, "class=\"legend\""), 3);  // the values panel and both planes
}

TEST(SvgPageTest, NamesAndLabelsComeOutEscapedAndIntact) {
  const std::string svg = Write(EveryKind());
  EXPECT_NE(svg.find("<title>Map &lt;&quot;a&quot; &amp; &apos;b&apos;&gt; grün</title>"), std::string::npos);
  EXPECT_NE(svg.find("&lt;width&gt; &amp; &quot;height&quot;"), std::string::npos);
  // The full list, heaviest first as given, in the cell's title.
  EXPECT_NE(svg.find("<title>a&lt;b&amp;c 3, &quot;q&apos; 1</title>"), std::string::npos);
  EXPECT_NE(svg.find("<title>日本語テキスト 2</title>"), std::string::npos);
  EXPECT_NE(svg.find(">grün</text>"), std::string::npos);
  // Written in the cell only as far as it fits (48-pixel cells: 6 characters).
  EXPECT_NE(svg.find(">日本語テキ…</text>"), std::string::npos);
  EXPECT_NE(svg.find(">a&lt;b&amp;c</text>"), std::string::npos);
  EXPECT_NE(svg.find("Map a&amp;b.net: 2 x 3 neurons"), std::string::npos);
}

TEST(SvgPageTest, HitMarkersFollowTheCounts) {
  const std::string svg = Write(EveryKind());
  EXPECT_EQ(Count(svg, "<circle "), 3 + 2);
  EXPECT_NE(svg.find("<title>5 hits</title>"), std::string::npos);
  EXPECT_NE(svg.find("<title>1 hit</title>"), std::string::npos);
  // The most hit neuron's marker is largest: 0.45 of a 48-pixel cell.
  EXPECT_NE(svg.find("r=\"21.6\"><title>5 hits"), std::string::npos);
}

// Labels stay written in their cells up to 100 x 100: the labels panel's
// cells keep 24 pixels (text of 8.64 pixels, 4 characters) while the other
// panels' shrink to 6.
TEST(SvgPageTest, LabelsStayReadableOnAHundredByHundredMap) {
  Page page;
  page.rows = page.columns = 100;
  std::vector<double> values(10000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i);
  page.panels.push_back(ValuesPanel("U-matrix", values));
  Panel labels;
  labels.kind = PanelKind::Labels;
  labels.labels.assign(10000, {TLabel("abcdefgh", 1)});
  page.panels.push_back(labels);
  const std::string svg = Write(page);
  const std::vector<std::string> groups = CellGroups(svg);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(Count(groups[0], "width=\"6\""), 10000);
  EXPECT_EQ(Count(groups[1], "width=\"24\""), 10000);
  std::size_t from = 0;
  const std::string_view texts = Between(svg, "<g class=\"labels\"", "</g>", from);
  EXPECT_TRUE(texts.starts_with(" font-size=\"8.64\"")) << texts.substr(0, 80);
  EXPECT_EQ(Count(texts, ">abc…</text>"), 10000);
  // The labels panel stands beside the U-matrix: 600 pixels and a gap on.
  EXPECT_NE(svg.find("<g id=\"panel2\" class=\"panel\" transform=\"translate(644,"), std::string::npos);
  EXPECT_EQ(XmlError(svg), "");
  std::ifstream manual(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithView.1");
  const std::string text{std::istreambuf_iterator<char>(manual), {}};
  EXPECT_NE(text.find("The labels panel's cells are never under 24 pixels"), std::string::npos);
}

TEST(SvgPageTest, CellSizesFollowTheMapSize) {
  EXPECT_EQ(LabelCellSize(2, 2), 48);
  EXPECT_EQ(LabelCellSize(43, 43), 24);
  EXPECT_EQ(LabelCellSize(100, 100), 24);
  EXPECT_EQ(LargeCellSize(2, 2), 48);
  EXPECT_EQ(LargeCellSize(20, 20), 24);
  EXPECT_EQ(LargeCellSize(100, 100), 6);
  EXPECT_EQ(LargeCellSize(1, 1000), 6);
  EXPECT_EQ(SmallCellSize(100, 100), 2);
  EXPECT_EQ(SmallCellSize(1, 3), 24);
}
