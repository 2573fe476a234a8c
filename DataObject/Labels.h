// Labels: a name with a real-valued weight, and the list of labels attached to
// one data row or one map neuron. Adding a name that is already present adds
// its weight to the existing label, so a list works as a weighted histogram.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TLabel {
 public:
  TLabel() = default;
  TLabel(std::string_view labelName, double labelValue) : value(labelValue), name(labelName) {}

  double value = 0.0;  // the label's weight
  std::string name;    // compared byte for byte, case significant
};

// Label names within one list are distinct; `labels` keeps them in the order
// in which each name was first added. Copies are deep and independent.
class TLabelList {
 public:
  TLabelList() = default;
  // A list holding the one label (name, value).
  TLabelList(std::string_view name, double value);

  // Number of labels in the list.
  std::int32_t count() const noexcept { return static_cast<std::int32_t>(labels.size()); }

  // Adds `value` to the weight of the label called exactly `name`, or appends
  // a new label (name, value) when there is none. A weight that reaches 0.0
  // keeps its label.
  void Add(std::string_view name, double value);

  std::vector<TLabel> labels;
};
