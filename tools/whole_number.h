// Whole numbers as the tools read them on their command lines.
#pragma once

#include <string>

enum class WholeNumber { kRead, kNotANumber, kOutOfRange };

// Reads text as a whole number from low to high: an optional minus sign and decimal digits,
// nothing else (no blanks, no plus sign, nothing after the digits). The value goes to *value only
// when it was read.
inline WholeNumber ReadWholeNumber(const std::string& text, long long low, long long high, long long* value) {
  const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
  if (first == text.size()) return WholeNumber::kNotANumber;
  long long v = 0;
  bool huge = false;
  for (size_t i = first; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return WholeNumber::kNotANumber;
    if (v > 100000000000LL) huge = true;  // beyond any range a tool asks for; stop growing
    if (!huge) v = v * 10 + (text[i] - '0');
  }
  if (first == 1) v = -v;
  if (huge || v < low || v > high) return WholeNumber::kOutOfRange;
  *value = v;
  return WholeNumber::kRead;
}
