// The reference for the request decoder: the JSON library's own parse of the line, read as a
// request. The library judges every rule of JSON; the oracle knows nothing of escapes, surrogates
// or numbers itself. It steps in only where the decoder differs from the library on purpose:
//
// - an escaped surrogate without its partner, which the library refuses, stands for U+FFFD:
//   where the library reports one, the escape it stopped at (or the one before, when that lets
//   the library read further) is written as \ufffd and the line parsed again;
// - a number too large for a double, which the library refuses, is as ignorable as any other:
//   where the library reports one, the number is written as 0 and the line parsed again;
// - a NUL byte, which the library takes for the end of its input outside a string, makes the
//   line invalid wherever it stands, as JSON has it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/request.h"

namespace talvori::testing {

namespace oracle {

using Json = nlohmann::json;

// Builds the library's document and keeps the position of the error that stopped it.
class Reader {
 public:
  bool null() { return dom_.null(); }
  bool boolean(bool value) { return dom_.boolean(value); }
  bool number_integer(Json::number_integer_t value) { return dom_.number_integer(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return dom_.number_unsigned(value); }
  bool number_float(Json::number_float_t value, const std::string& text) {
    return dom_.number_float(value, text);
  }
  bool string(std::string& value) { return dom_.string(value); }
  bool binary(Json::binary_t& value) { return dom_.binary(value); }
  bool start_object(std::size_t size) { return dom_.start_object(size); }
  bool key(std::string& name) { return dom_.key(name); }
  bool end_object() { return dom_.end_object(); }
  bool start_array(std::size_t size) { return dom_.start_array(size); }
  bool end_array() { return dom_.end_array(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) {
    position_ = position;
    error_ = error.id;
    // The reason alone, without the text the library had read.
    message_ = error.what();
    message_.resize(std::min(message_.size(), message_.find("; last read")));
    return false;
  }

  Json document;
  std::size_t position_ = 0;  // bytes read when the library stopped
  int error_ = 0;             // the library's error number; 0 when it did not stop
  std::string message_;       // why it stopped

 private:
  nlohmann::detail::json_sax_dom_parser<Json> dom_{document, false};
};

struct Outcome {
  std::optional<Json> document;
  std::size_t position = 0;
  int error = 0;
  std::string message;
};

// The library's number for a number out of range.
inline constexpr int kNumberOverflow = 406;

inline Outcome parse(const std::string& line) {
  Reader reader;
  if (Json::sax_parse(line, &reader)) return {std::move(reader.document), 0, 0, {}};
  return {std::nullopt, reader.position_, reader.error_, reader.message_};
}

// The starts of the \u escapes that begin before `end` (a backslash that is itself escaped
// starts none).
inline std::vector<std::size_t> unicodeEscapesBefore(const std::string& line, std::size_t end) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 1 < line.size() && i < end; ++i) {
    if (line[i] != '\\') continue;
    if (line[i + 1] == 'u') starts.push_back(i);
    ++i;  // the escaped character
  }
  return starts;
}

}  // namespace oracle

// What decodeRequest should give for `line`, which must be valid UTF-8 (the decoder reads
// ill-formed bytes as U+FFFD; the caller replaces them first).
inline std::optional<Request> referenceRequest(std::string line) {
  using oracle::Json;
  if (line.find('\0') != std::string::npos) return std::nullopt;
  oracle::Outcome outcome = oracle::parse(line);
  // Each round mends one place the library reported, after which it reads further.
  const std::size_t rounds = line.size();
  for (std::size_t round = 0; !outcome.document && round <= rounds; ++round) {
    const std::size_t stopped = outcome.position;
    if (outcome.error == oracle::kNumberOverflow) {
      std::size_t start = stopped;
      while (start > 0 &&
             std::string_view("0123456789+-.eE").find(line[start - 1]) != std::string_view::npos) {
        --start;
      }
      if (start == stopped) return std::nullopt;
      line.replace(start, stopped - start, "0");
      outcome = oracle::parse(line);
    } else if (outcome.message.find("surrogate") != std::string::npos) {
      const std::vector<std::size_t> escapes = oracle::unicodeEscapesBefore(line, stopped);
      bool mended = false;
      for (std::size_t k = 0; k < 2 && k < escapes.size() && !mended; ++k) {
        std::string attempt = line;
        attempt.replace(escapes[escapes.size() - 1 - k], 6, "\\ufffd");
        oracle::Outcome next = oracle::parse(attempt);
        if (next.document || next.position > stopped) {
          line = std::move(attempt);
          outcome = std::move(next);
          mended = true;
        }
      }
      if (!mended) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!outcome.document || !outcome.document->is_object()) return std::nullopt;
  const Json& document = *outcome.document;
  std::string members[3];
  const char* names[3] = {"id", "text", "target"};
  for (int i = 0; i < 3; ++i) {
    const auto member = document.find(names[i]);
    if (member == document.end() || !member->is_string()) return std::nullopt;
    members[i] = member->get<std::string>();
  }
  return Request{std::move(members[0]), std::move(members[1]), targetNamed(members[2])};
}

}  // namespace talvori::testing
