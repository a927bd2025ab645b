// A small JSON writer for the machine-readable summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace asiohost {

class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(const std::string& k);
  JsonWriter& value(const std::string& s);
  JsonWriter& value(const char* s) { return value(std::string(s)); }
  JsonWriter& value(double d);  // non-finite numbers become null
  JsonWriter& value(int64_t i);
  JsonWriter& value(int i) { return value(static_cast<int64_t>(i)); }
  JsonWriter& value(uint64_t i) { return value(static_cast<int64_t>(i)); }
  JsonWriter& value(bool b);
  JsonWriter& null();
  JsonWriter& raw(const std::string& json);  // an already written value
  const std::string& text() const { return out_; }

 private:
  void separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
};

std::string jsonEscape(const std::string& s);

}  // namespace asiohost
