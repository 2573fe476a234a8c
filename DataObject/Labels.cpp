#include "DataObject/Labels.h"

#include <functional>
#include <utility>

#include "KQmessage/NameIndex.h"

namespace {

// Below this many labels a scan is as fast as the index and costs no memory;
// most lists hold a few labels.
constexpr std::size_t kIndexFrom = 16;

std::size_t HashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

}  // namespace

TLabelList::TLabelList() = default;

TLabelList::TLabelList(std::string_view name, double value) { labels.emplace_back(name, value); }

// Copies take the labels only; their index is built again when needed.
TLabelList::TLabelList(const TLabelList& other) : labels(other.labels) {}

TLabelList::TLabelList(TLabelList&& other) noexcept
    : labels(std::move(other.labels)), index_(std::move(other.index_)) {
  other.labels.clear();
}

TLabelList& TLabelList::operator=(const TLabelList& other) {
  if (this == &other) return *this;
  labels = other.labels;
  index_.reset();
  return *this;
}

TLabelList& TLabelList::operator=(TLabelList&& other) noexcept {
  if (this == &other) return *this;
  labels = std::move(other.labels);
  index_ = std::move(other.index_);
  other.labels.clear();
  return *this;
}

TLabelList::~TLabelList() = default;

void TLabelList::Clear() noexcept {
  labels.clear();
  index_.reset();
}

std::int32_t TLabelList::Find(std::string_view name) {
  const std::size_t n = labels.size();
  if (n < kIndexFrom) {
    index_.reset();
    for (std::size_t i = 0; i < n; ++i)
      if (labels[i].name == name) return static_cast<std::int32_t>(i);
    return -1;
  }
  // The index covers labels [0, index size). Labels appended behind it are
  // indexed now; a list that shrank is indexed afresh.
  if (index_ == nullptr || index_->size() > n) {
    index_ = std::make_unique<NameIndex>();
  }
  for (std::size_t i = index_->size(); i < n; ++i)
    index_->Insert(HashOf(labels[i].name), static_cast<std::int32_t>(i));
  return index_->Find(
      name, HashOf(name), [this](std::int32_t i) -> std::string_view { return labels[static_cast<std::size_t>(i)].name; },
      [](std::string_view a, std::string_view b) { return a == b; });
}

void TLabelList::Add(std::string_view name, double value) {
  const std::int32_t found = Find(name);
  if (found >= 0) {
    labels[static_cast<std::size_t>(found)].value += value;
    return;
  }
  labels.emplace_back(name, value);
  if (index_ != nullptr) index_->Insert(HashOf(labels.back().name), count() - 1);
}
