// Fuzz target: every edit descriptor the program reads with, on arbitrary bytes.
// The first byte picks the descriptor; the rest is the typed line.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format/fixed_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  using namespace odefit::fixed;
  switch (data[0] % 6) {
    case 0: (void)ReadI(line, 1); break;
    case 1: (void)ReadI(line, 2); break;
    case 2: (void)ReadI(line, 6); break;
    case 3: {
      const auto value = ReadF(line, 20, 10);
      // Whatever reads must be a finite number that prints again.
      if (value && !std::isfinite(*value)) std::abort();
      if (value && FormatF(*value, 20, 10).size() != 20) std::abort();
      break;
    }
    case 4: {
      if (ReadA(line, 1).size() != 1) std::abort();
      break;
    }
    default: (void)ParseEditDescriptor(line); break;
  }
  return 0;
}
