// The updater's inputs from a package or an installation: the description,
// the installation record, the installed startup.xml and an old install.log.
// The first byte picks which one the rest of the bytes stand for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/FileList.h"
#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "tqClassBase/tqClassBase.h"
#include "xml/tqXml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool heap = CreatePrivateHeap(10485760) != 0;
  (void)heap;
  if (size < 1) return 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: {
      tqXml xml;
      if (xml.OpenMem(text.data(), text.size())) {
        auto* info = new UpdateInfo;
        info->Clear();
        ReadDescription(xml, *info);
        ChooseLanguage(*info, 1041);
        ChooseLanguage(*info, 1033);
        delete info;
      }
      break;
    }
    case 1: {
      char folder[260];
      ExtractInstallFolder(text.c_str(), folder);
      break;
    }
    case 2: VersionWordFromText(text.c_str()); break;
    case 3: {
      LogList log;
      log.LoadText(text.c_str());
      log.Add("\"new.txt\"");
      log.SortUnique();
      log.Lines();
      break;
    }
  }
  return 0;
}
