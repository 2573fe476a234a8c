// Checks on the SVG pages MapsmithView writes, shared by its tests: XML
// well-formedness (with libxml2 when the test build found it) and the cells
// of each panel.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#ifdef MAPSMITH_HAVE_LIBXML2
#include <libxml/parser.h>
#endif

namespace svgchecks {

inline constexpr const char* kNoXmlChecker =
    "libxml2 was not found when the tests were built: the XML well-formedness check is skipped";

inline bool HaveXmlChecker() {
#ifdef MAPSMITH_HAVE_LIBXML2
  return true;
#else
  return false;
#endif
}

// The parser's complaint about `text`, or "" when it is well-formed XML.
// Nothing outside the text is loaded (no network, no external entities).
inline std::string XmlError(const std::string& text) {
#ifdef MAPSMITH_HAVE_LIBXML2
  xmlResetLastError();
  xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "page.svg", "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  std::string error;
  if (doc == nullptr) {
    const xmlError* e = xmlGetLastError();
    error = e != nullptr && e->message != nullptr ? e->message : "not well-formed";
    if (e != nullptr) error += " (line " + std::to_string(e->line) + ")";
  } else {
    const xmlNode* root = xmlDocGetRootElement(doc);
    if (root == nullptr || std::string_view(reinterpret_cast<const char*>(root->name)) != "svg")
      error = "the root element is not svg";
    xmlFreeDoc(doc);
  }
  return error;
#else
  (void)text;
  return {};
#endif
}

// What stands between `open` and the first `close` after it, from `from`.
inline std::string_view Between(std::string_view text, std::string_view open, std::string_view close,
                                std::size_t& from) {
  const std::size_t start = text.find(open, from);
  if (start == std::string_view::npos) {
    from = std::string_view::npos;
    return {};
  }
  const std::size_t end = text.find(close, start + open.size());
  from = end == std::string_view::npos ? end : end + close.size();
  return text.substr(start + open.size(), end - start - open.size());
}

inline int Count(std::string_view text, std::string_view what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Each panel's cell group, in page order.
inline std::vector<std::string> CellGroups(std::string_view svg) {
  std::vector<std::string> groups;
  std::size_t from = 0;
  for (;;) {
    std::string_view cells = Between(svg, "<g class=\"cells\"", "</g>", from);
    if (from == std::string_view::npos) return groups;
    groups.emplace_back(cells);
  }
}

// The fill colours of a cell group's cells, in order.
inline std::vector<std::string> Fills(std::string_view cells) {
  std::vector<std::string> fills;
  std::size_t from = 0;
  for (;;) {
    std::string_view rect = Between(cells, "<rect ", ">", from);
    if (from == std::string_view::npos) return fills;
    std::size_t at = 0;
    fills.emplace_back(Between(rect, "fill=\"", "\"", at));
  }
}

}  // namespace svgchecks
