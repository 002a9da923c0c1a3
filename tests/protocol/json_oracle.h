// Helps the JSON library serve as the reference for our request decoder. The library refuses two
// things that valid JSON text may hold and that the decoder takes: numbers too large for a double
// and escaped surrogates without their partner.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace talvori::testing {

// `json` with each number too large for a double replaced by 0 and each escaped surrogate that
// has no partner replaced by \ufffd, so that the library judges the rest as valid JSON would
// and decodes strings as the decoder does.
inline std::string withOutOfRangeValuesReplaced(std::string_view json) {
  const auto hexQuad = [&](std::size_t at) -> long {
    if (at + 4 > json.size()) return -1;
    for (std::size_t k = at; k < at + 4; ++k) {
      if (!std::isxdigit(static_cast<unsigned char>(json[k]))) return -1;
    }
    return std::strtol(std::string(json.substr(at, 4)).c_str(), nullptr, 16);
  };
  std::string out;
  bool inString = false;
  std::size_t i = 0;
  while (i < json.size()) {
    const char c = json[i];
    if (inString) {
      if (c == '"') inString = false;
      if (c != '\\' || i + 1 >= json.size()) {
        out += c;
        ++i;
        continue;
      }
      const long unit = json[i + 1] == 'u' ? hexQuad(i + 2) : -1;
      if (unit < 0xD800 || unit > 0xDFFF) {
        out.append(json.substr(i, 2));
        i += 2;
        continue;
      }
      const long low = unit <= 0xDBFF && json.substr(i + 6, 2) == "\\u" ? hexQuad(i + 8) : -1;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.append(json.substr(i, 12));
        i += 12;
      } else {
        out += "\\ufffd";
        i += 6;
      }
    } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
      std::size_t end = i + 1;
      while (end < json.size() &&
             std::string_view("0123456789.eE+-").find(json[end]) != std::string_view::npos) {
        ++end;
      }
      const std::string number(json.substr(i, end - i));
      out += std::isinf(std::strtod(number.c_str(), nullptr)) ? "0" : number;
      i = end;
    } else {
      inString = c == '"';
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace talvori::testing
