#pragma once
// Numbers as text, the same in any locale (std::to_chars): the one formatter
// of the library's texts and of its front ends. A value that is not finite is
// written "nan", "inf" or "-inf".

#include <cstddef>
#include <string>

namespace odefit {

// The fewest digits that read back as the same double.
std::string ShortestText(double value);

// `digits` (>= 1) significant digits, as printf's %.*g writes them.
std::string SignificantText(double value, int digits);

// `decimals` (>= 0) digits after the point, as printf's %.*f writes them.
std::string FixedText(double value, int decimals);

// `text` with blanks added before it (`right`) or after it up to `width` characters.
std::string PaddedText(std::string text, std::size_t width, bool right);

}  // namespace odefit
