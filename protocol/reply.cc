#include "protocol/reply.h"

#include <cstddef>

#include "base/utf8.h"

namespace talvori {

std::string_view keyString(Reply::CodingKeys key) {
  switch (key) {
    case Reply::CodingKeys::id:
      return "id";
    case Reply::CodingKeys::text:
      return "text";
    case Reply::CodingKeys::error:
      return "error";
  }
  return {};
}

namespace {

// Appends `value` as a JSON string the way the JSON library's compact output writes it: the
// quotation mark, reverse solidus and controls escaped (short forms where JSON has them, else
// \u00xx in lower case), everything else as UTF-8. `value` must be valid UTF-8.
void appendJsonString(std::string_view value, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t done = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(value.substr(done, i - done));
    done = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(value.substr(done));
  out += '"';
}

void appendMember(Reply::CodingKeys key, std::string_view value, std::string& out) {
  out += '"';
  out += keyString(key);
  out += "\":";
  if (isValidUtf8(value)) {
    appendJsonString(value, out);
  } else {
    std::string repaired;
    appendRepairedUtf8(value, repaired);
    appendJsonString(repaired, out);
  }
}

}  // namespace

void encodeReply(const Reply& reply, std::string& out) {
  out += '{';
  appendMember(Reply::CodingKeys::id, reply.id(), out);
  out += ',';
  if (const std::string* text = reply.text()) {
    appendMember(Reply::CodingKeys::text, *text, out);
  } else {
    appendMember(Reply::CodingKeys::error, *reply.error(), out);
  }
  out += '}';
}

}  // namespace talvori
