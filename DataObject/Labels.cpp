#include "DataObject/Labels.h"

TLabelList::TLabelList(std::string_view name, double value) { labels.emplace_back(name, value); }

void TLabelList::Add(std::string_view name, double value) {
  // Lists are short (a few labels per row): a linear scan beats any index.
  for (TLabel& label : labels) {
    if (label.name == name) {
      label.value += value;
      return;
    }
  }
  labels.emplace_back(name, value);
}
