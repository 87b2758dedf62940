// Helpers shared by the configuration's source files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "xml/tqXml.h"

namespace tqconfig {

// Copies text into dst (capacity bytes), cut so that no double-byte
// character is split, always terminated. Returns the length written.
size_t CopyText(char* dst, size_t capacity, const char* text, size_t length);
inline size_t CopyText(char* dst, size_t capacity, const std::string& text) {
  return CopyText(dst, capacity, text.data(), text.size());
}

// Length of a fixed field's text (never past its end).
size_t FieldLength(const char* field, size_t size);
template <size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, FieldLength(field, N));
}

// Case-insensitive for single-byte letters; double-byte characters exact.
bool SameText(const char* a, const char* b);

// Joins two path parts with the library's path join.
std::string JoinPath(const std::string& a, const std::string& b);

// Names for the path queries; each may be a printf format of one int.
using Names = std::vector<std::string>;
std::string Format(const char* format, int value);
std::string Format(const char* format, int a, int b);

// Reads one value with the current one as default.
inline void ReadInt(tqXml& xml, int32_t& value, const Names& names) {
  value = xml.GetIntPath(value, names);
}
template <size_t N>
void ReadText(tqXml& xml, char (&field)[N], const Names& names) {
  field[N - 1] = 0;
  xml.GetStrPath(field, N, field, names);
}
inline void WriteInt(tqXml& xml, int32_t value, const Names& names) {
  xml.SetIntPath(value, names);
}
template <size_t N>
void WriteText(tqXml& xml, const char (&field)[N], const Names& names) {
  xml.SetStrPath(Field(field).c_str(), names);
}

}  // namespace tqconfig
