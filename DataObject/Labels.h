// Labels: a name with a real-valued weight, and the list of labels attached to
// one data row or one map neuron. Adding a name that is already present adds
// its weight to the existing label, so a list works as a weighted histogram.
#pragma once

#include <cstdint>
#include <memory>
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

class NameIndex;

// Label names within one list are distinct; `labels` keeps them in the order
// in which each name was first added. Copies are deep and independent.
//
// Long lists find names through a hash index beside `labels`, so adding n
// labels costs O(n), not O(n^2). `labels` may be read freely; change it only
// through Add and Clear, or by appending or removing whole labels (the index
// notices a changed count). Renaming a label in place is not noticed.
class TLabelList {
 public:
  TLabelList();
  // A list holding the one label (name, value).
  TLabelList(std::string_view name, double value);
  TLabelList(const TLabelList& other);
  TLabelList(TLabelList&& other) noexcept;
  TLabelList& operator=(const TLabelList& other);
  TLabelList& operator=(TLabelList&& other) noexcept;
  ~TLabelList();

  // Number of labels in the list.
  std::int32_t count() const noexcept { return static_cast<std::int32_t>(labels.size()); }

  // Adds `value` to the weight of the label called exactly `name`, or appends
  // a new label (name, value) when there is none. A weight that reaches 0.0
  // keeps its label.
  void Add(std::string_view name, double value);
  // Removes every label.
  void Clear() noexcept;

  std::vector<TLabel> labels;

 private:
  // Position of the label called `name`, or -1.
  std::int32_t Find(std::string_view name);

  std::unique_ptr<NameIndex> index_;  // none for short lists
};
