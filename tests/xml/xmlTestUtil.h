// Helpers shared by the XML tests: the private heap the reader needs, and
// documents with the usual declaration in front.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "xml/tqXml.h"

namespace xmltest {

// The declaration every test document starts with.
inline const std::string kDecl = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n";

inline std::string Doc(const std::string& body) { return kDecl + body; }

// Parses bytes (their exact length) and returns the parser's code.
inline int Parse(tqXml& xml, const std::string& bytes) {
  xml.OpenMem(bytes.data(), bytes.size());
  return xml.Parser() ? xml.Parser()->Error() : -1;
}

// The model as one line per node: indentation by depth, name, attributes
// and, for elements without children, the value; children in sequence order.
std::string Dump(const tqXmlNodeList* list, bool withParentValues);

}  // namespace xmltest
