// Storage shared by the fully connected and the pruneable connection sets: one
// contiguous to-neuron-major array (row t holds the nFrom weights into to
// neuron t) and a table of row pointers, rebuilt in the same layout by every
// resizing step. Used for the weights and, in pruneable sets, for the flags.
#pragma once

#include <cstddef>
#include <vector>

namespace weightlayout {

template <class T>
void Reindex(std::vector<T>& array, std::vector<T*>& index, int nFrom, int nTo) {
  index.resize(static_cast<std::size_t>(nTo));
  for (int t = 0; t < nTo; ++t) index[t] = array.data() + static_cast<std::size_t>(t) * nFrom;
}

// nFrom x nTo cells, all `fill`.
template <class T>
void Build(std::vector<T>& array, std::vector<T*>& index, int nFrom, int nTo, T fill) {
  array.assign(static_cast<std::size_t>(nFrom) * static_cast<std::size_t>(nTo), fill);
  Reindex(array, index, nFrom, nTo);
}

// Drops column `node` of an nFrom x nTo grid; columns above it move down one.
template <class T>
void RemoveColumn(std::vector<T>& array, std::vector<T*>& index, int nFrom, int nTo, int node) {
  const int cols = nFrom - 1;
  std::vector<T> fresh(static_cast<std::size_t>(cols) * static_cast<std::size_t>(nTo));
  for (int t = 0; t < nTo; ++t) {
    const T* src = index[t];
    T* dst = fresh.data() + static_cast<std::size_t>(t) * cols;
    for (int f = 0; f < cols; ++f) dst[f] = src[f >= node ? f + 1 : f];
  }
  array.swap(fresh);
  Reindex(array, index, cols, nTo);
}

// Drops row `node` of an nFrom x nTo grid; rows above it move down one.
template <class T>
void RemoveRow(std::vector<T>& array, std::vector<T*>& index, int nFrom, int nTo, int node) {
  const int rows = nTo - 1;
  std::vector<T> fresh(static_cast<std::size_t>(nFrom) * static_cast<std::size_t>(rows));
  for (int t = 0; t < rows; ++t) {
    const T* src = index[t >= node ? t + 1 : t];
    T* dst = fresh.data() + static_cast<std::size_t>(t) * nFrom;
    for (int f = 0; f < nFrom; ++f) dst[f] = src[f];
  }
  array.swap(fresh);
  Reindex(array, index, nFrom, rows);
}

// Opens column `node` in an nFrom x nTo grid (filled with `fill`); columns at
// and above it move up one.
template <class T>
void InsertColumn(std::vector<T>& array, std::vector<T*>& index, int nFrom, int nTo, int node,
                  T fill) {
  const int cols = nFrom + 1;
  std::vector<T> fresh(static_cast<std::size_t>(cols) * static_cast<std::size_t>(nTo), fill);
  for (int t = 0; t < nTo; ++t) {
    const T* src = index[t];
    T* dst = fresh.data() + static_cast<std::size_t>(t) * cols;
    for (int f = 0; f < nFrom; ++f) dst[f >= node ? f + 1 : f] = src[f];
  }
  array.swap(fresh);
  Reindex(array, index, cols, nTo);
}

// Opens row `node` in an nFrom x nTo grid (filled with `fill`); rows at and
// above it move up one.
template <class T>
void InsertRow(std::vector<T>& array, std::vector<T*>& index, int nFrom, int nTo, int node,
               T fill) {
  const int rows = nTo + 1;
  std::vector<T> fresh(static_cast<std::size_t>(nFrom) * static_cast<std::size_t>(rows), fill);
  for (int t = 0; t < nTo; ++t) {
    const T* src = index[t];
    T* dst = fresh.data() + static_cast<std::size_t>(t >= node ? t + 1 : t) * nFrom;
    for (int f = 0; f < nFrom; ++f) dst[f] = src[f];
  }
  array.swap(fresh);
  Reindex(array, index, nFrom, rows);
}

}  // namespace weightlayout
