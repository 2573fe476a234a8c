// Tagged text primitives shared by every text file of the system.
#pragma once

#include <string_view>

namespace mapsmith {

// Case-insensitive comparison used for every keyword, name and type text:
// both texts are taken in upper case (ASCII letters only, so the result never
// depends on a locale) and compared byte by byte as unsigned values.
// Returns -1, 0 or 1. It lives in a namespace because the C library has a
// function of the same name with different rules (lower case, any sign).
int strcasecmp(std::string_view a, std::string_view b) noexcept;

}  // namespace mapsmith
