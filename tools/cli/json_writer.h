// A small streaming JSON writer for the tool's "--json" output: objects and arrays indented by
// two blanks, strings escaped (the texts are UTF-8 and stay so; control characters become
// \uXXXX). The writer places the commas; the caller only opens, closes and names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr::cli {

class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // The name of the next member of an object.
  void key(std::string_view name);
  void string(std::string_view text);
  void number(std::int64_t value);
  void number(double value);
  void boolean(bool value);
  void null();

  // Shorthands for one member.
  void member(std::string_view name, std::string_view text) { key(name), string(text); }
  void member(std::string_view name, const char* text) { key(name), string(text); }
  void member(std::string_view name, std::int64_t value) { key(name), number(value); }
  void member(std::string_view name, int value) { key(name), number(static_cast<std::int64_t>(value)); }
  void member(std::string_view name, std::uint32_t value) { key(name), number(static_cast<std::int64_t>(value)); }
  void member(std::string_view name, double value) { key(name), number(value); }
  void member(std::string_view name, bool value) { key(name), boolean(value); }

  // The text written so far, with a final line end once everything is closed.
  [[nodiscard]] std::string text() const { return levels_.empty() ? out_ + "\n" : out_; }

 private:
  void beforeValue();
  void newline();

  std::string out_;
  struct Level {
    bool array;
    bool empty;
  };
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

// The text as a JSON string literal, quotes included.
[[nodiscard]] std::string jsonQuoted(std::string_view text);

}  // namespace kvtr::cli
