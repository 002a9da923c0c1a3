#include "protocol/request.h"

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace talvori {

std::string_view keyString(Request::CodingKeys key) {
  switch (key) {
    case Request::CodingKeys::id:
      return "id";
    case Request::CodingKeys::text:
      return "text";
    case Request::CodingKeys::target:
      return "target";
  }
  return {};
}

std::optional<Request::CodingKeys> requestKey(std::string_view key) {
  for (auto k : {Request::CodingKeys::id, Request::CodingKeys::text, Request::CodingKeys::target}) {
    if (keyString(k) == key) return k;
  }
  return std::nullopt;
}

namespace {

using json = nlohmann::json;

// Collects the three members of a top-level object as the parser streams it, without building a
// document: nested values are skipped, a non-string value for a member unsets it (so the last
// occurrence of a repeated member decides), and anything but an object at the top fails.
class RequestCollector final : public nlohmann::json_sax<json> {
 public:
  bool complete() const { return have_[0] && have_[1] && have_[2]; }
  Request take() { return std::move(request_); }

  bool null() override { return scalar(); }
  bool boolean(bool) override { return scalar(); }
  bool number_integer(number_integer_t) override { return scalar(); }
  bool number_unsigned(number_unsigned_t) override { return scalar(); }
  bool number_float(number_float_t, const string_t&) override { return scalar(); }
  bool binary(binary_t&) override { return scalar(); }

  bool string(string_t& value) override {
    if (depth_ == 0) return false;
    if (depth_ == 1 && pending_) {
      field(*pending_) = std::move(value);
      have_[index(*pending_)] = true;
      pending_.reset();
    }
    return true;
  }

  bool start_object(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return depth_ == 0 ? false : open(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    if (depth_ == 1) pending_ = requestKey(name);
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  static std::size_t index(Request::CodingKeys key) { return static_cast<std::size_t>(key); }

  std::string& field(Request::CodingKeys key) {
    switch (key) {
      case Request::CodingKeys::id:
        return request_.id;
      case Request::CodingKeys::text:
        return request_.text;
      case Request::CodingKeys::target:
        break;
    }
    return request_.target;
  }

  bool scalar() {
    if (depth_ == 0) return false;
    if (depth_ == 1 && pending_) {
      have_[index(*pending_)] = false;
      pending_.reset();
    }
    return true;
  }

  bool open() {
    if (depth_ == 1 && pending_) {
      have_[index(*pending_)] = false;
      pending_.reset();
    }
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    return true;
  }

  Request request_;
  bool have_[3] = {false, false, false};
  std::optional<Request::CodingKeys> pending_;
  std::size_t depth_ = 0;
};

}  // namespace

std::optional<Request> decodeRequest(std::string_view line) {
  RequestCollector collector;
  const bool parsed = json::sax_parse(line.begin(), line.end(), &collector,
                                      nlohmann::detail::input_format_t::json, /*strict=*/true,
                                      /*ignore_comments=*/false);
  if (!parsed || !collector.complete()) return std::nullopt;
  return collector.take();
}

}  // namespace talvori
