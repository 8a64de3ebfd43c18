#include "json/JsonScalar.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace krlist {

bool looksIntegral(std::string_view number) {
  return number.find_first_of(".eE") == std::string_view::npos;
}

JsonScalar numberOf(std::string_view text) {
  JsonScalar number{JsonScalar::Type::Float};
  number.text = text;
  if (looksIntegral(text)) {
    const char* end = text.data() + text.size();
    if (text[0] == '-') {
      if (std::from_chars(text.data(), end, number.integer).ec == std::errc()) {
        number.type = JsonScalar::Type::Integer;
      }
    } else if (std::from_chars(text.data(), end, number.unsignedValue).ec == std::errc()) {
      number.type = JsonScalar::Type::Integer;
      number.unsignedHigh = number.unsignedValue > static_cast<std::uint64_t>(INT64_MAX);
      number.integer = number.unsignedHigh ? 0 : static_cast<std::int64_t>(number.unsignedValue);
    }
  }
  return number;
}

bool parseFloat(const JsonScalar& value, float& result) {
  if (value.type == JsonScalar::Type::Integer) {
    result = value.unsignedHigh ? static_cast<float>(value.unsignedValue)
                                : static_cast<float>(value.integer);
    return true;
  }
  const std::string_view text = value.text;
  const char* end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, result);
  if (read.ec == std::errc()) {
    return true;
  }
  // Out of range either way: a number too close to zero is read as zero, as
  // the nearest float; one too large has no float.
  const bool negative = !text.empty() && text[0] == '-';
  long double wide = 0;
  const std::from_chars_result readWide = std::from_chars(text.data(), end, wide);
  const std::size_t exponent = text.find_first_of("eE");
  const bool tiny = readWide.ec == std::errc()
                        ? std::fabs(wide) < 1
                        : exponent != std::string_view::npos &&
                              text.find('-', exponent) != std::string_view::npos;
  if (!tiny) {
    return false;
  }
  result = negative ? -0.0f : 0.0f;
  return true;
}

}  // namespace krlist
