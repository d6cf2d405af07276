#include "json_writer.h"

#include <cmath>
#include <cstdlib>

#include "common/format.h"

namespace kvtr::cli {

std::string jsonQuoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += strprintf("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

void JsonWriter::newline() {
  out_.push_back('\n');
  out_.append(levels_.size() * 2, ' ');
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (!level.empty) out_.push_back(',');
  level.empty = false;
  newline();
}

void JsonWriter::beginObject() {
  beforeValue();
  out_.push_back('{');
  levels_.push_back({false, true});
}

void JsonWriter::beginArray() {
  beforeValue();
  out_.push_back('[');
  levels_.push_back({true, true});
}

void JsonWriter::endObject() {
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) newline();
  out_.push_back('}');
}

void JsonWriter::endArray() {
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) newline();
  out_.push_back(']');
}

void JsonWriter::key(std::string_view name) {
  beforeValue();
  out_ += jsonQuoted(name);
  out_ += ": ";
  afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
  beforeValue();
  out_ += jsonQuoted(text);
}

void JsonWriter::number(std::int64_t value) {
  beforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::number(double value) {
  beforeValue();
  // JSON has no infinities or NaN; limits are plain numbers in practice.
  if (!std::isfinite(value)) {
    out_ += "null";
    return;
  }
  // The shortest of the two forms that reads back as the same number.
  std::string shortForm = strprintf("%.15g", value);
  out_ += std::strtod(shortForm.c_str(), nullptr) == value ? shortForm : strprintf("%.17g", value);
}

void JsonWriter::boolean(bool value) {
  beforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  beforeValue();
  out_ += "null";
}

}  // namespace kvtr::cli
