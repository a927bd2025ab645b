#include "Json.h"

#include <cmath>
#include <cstdio>

namespace asiohost {

std::string jsonEscape(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    switch (c) {
      case '"': o += "\\\""; break;
      case '\\': o += "\\\\"; break;
      case '\n': o += "\\n"; break;
      case '\r': o += "\\r"; break;
      case '\t': o += "\\t"; break;
      default:
        if (c < 0x20) {
          char u[8];
          std::snprintf(u, sizeof u, "\\u%04x", c);
          o += u;
        } else {
          o += static_cast<char>(c);
        }
    }
  }
  return o;
}

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  out_ += '{';
  first_.push_back(true);
  return *this;
}
JsonWriter& JsonWriter::endObject() {
  out_ += '}';
  first_.pop_back();
  return *this;
}
JsonWriter& JsonWriter::beginArray() {
  separate();
  out_ += '[';
  first_.push_back(true);
  return *this;
}
JsonWriter& JsonWriter::endArray() {
  out_ += ']';
  first_.pop_back();
  return *this;
}
JsonWriter& JsonWriter::key(const std::string& k) {
  separate();
  out_ += '"' + jsonEscape(k) + "\":";
  afterKey_ = true;
  return *this;
}
JsonWriter& JsonWriter::value(const std::string& s) {
  separate();
  out_ += '"' + jsonEscape(s) + '"';
  return *this;
}
JsonWriter& JsonWriter::value(double d) {
  if (!std::isfinite(d)) return null();
  separate();
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", d);
  out_ += b;
  return *this;
}
JsonWriter& JsonWriter::value(int64_t i) {
  separate();
  out_ += std::to_string(i);
  return *this;
}
JsonWriter& JsonWriter::value(bool b) {
  separate();
  out_ += b ? "true" : "false";
  return *this;
}
JsonWriter& JsonWriter::raw(const std::string& json) {
  separate();
  out_ += json;
  return *this;
}

JsonWriter& JsonWriter::null() {
  separate();
  out_ += "null";
  return *this;
}

}  // namespace asiohost
