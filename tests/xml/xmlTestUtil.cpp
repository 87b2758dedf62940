// The heap the XML reader takes its copies from, for the whole test program,
// and the model dump used to compare documents.
#include "tests/xml/xmlTestUtil.h"

#include "tqClassBase/tqClassBase.h"

namespace xmltest {
namespace {

class HeapEnvironment : public testing::Environment {
 public:
  void SetUp() override { CreatePrivateHeap(10485760); }
  void TearDown() override { DestroyPrivateHeap(); }
};

testing::Environment* const heap = testing::AddGlobalTestEnvironment(new HeapEnvironment);

void DumpInto(const tqXmlNodeList* list, bool withParentValues, int depth, std::string& out) {
  if (!list) return;
  for (const tqXmlNode& node : *list) {
    out.append(depth * 2, ' ');
    out += node.name;
    if (node.attributes) {
      for (const tqXmlAttribute& a : *node.attributes) out += " " + a.name + "=[" + a.value + "]";
    }
    if (!node.children || withParentValues) out += " {" + node.value + "}";
    out += "\n";
    DumpInto(node.children, withParentValues, depth + 1, out);
  }
}

}  // namespace

std::string Dump(const tqXmlNodeList* list, bool withParentValues) {
  std::string out;
  DumpInto(list, withParentValues, 0, out);
  return out;
}

}  // namespace xmltest
