// A description of every field of the settings block by the path of the key
// it comes from ("SCREEN/v_width"), for tools that list or compare settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/tqConfigData.h"

struct tqConfigField {
  enum Kind { INT, TEXT, BYTE, COLOUR };
  std::string name;  // key path; values that no file holds are under their own names
  Kind kind;
  size_t offset;
  size_t size;  // bytes of the field (4 for numbers, 1 for bytes)
};

// Every field of the block in layout order; only the reserved tail is left
// out.
const std::vector<tqConfigField>& tqConfigFields();

// The value of a field as text: numbers in decimal, colours as 0xAARRGGBB,
// texts as stored (Shift_JIS).
std::string tqConfigFieldValue(const tqConfigData& data, const tqConfigField& field);
