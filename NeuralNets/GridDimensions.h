// The list of dimension sizes that layers and the Kohonen map both keep, and
// its two accessors, shared so that both classes behave alike.
#pragma once

#include <cstddef>
#include <memory>

#include "KQmessage/Assert.h"

// Copies `count` sizes into parameters; nothing when count is 0.
inline void GetGridDimensions(int count, const int* dimensions, int* parameters) {
  if (count == 0) return;
  MAPSMITH_ASSERT(parameters != NULL);
  MAPSMITH_ASSERT(dimensions != NULL);
  for (int i = 0; i < count; ++i) parameters[i] = dimensions[i];
}

// Replaces the list by a copy of `count` sizes from parameters (none for 0).
inline void SetGridDimensions(int& numDimensions, std::unique_ptr<int[]>& dimensions, int count,
                              const int* parameters) {
  numDimensions = count;
  dimensions.reset();
  if (count == 0) return;
  MAPSMITH_ASSERT(parameters != NULL);
  dimensions = std::make_unique<int[]>(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) dimensions[i] = parameters[i];
}
