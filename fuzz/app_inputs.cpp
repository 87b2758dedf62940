// The updater's inputs from a package or an installation: the description,
// the installation record, the installed startup.xml and an old install.log.
// The first byte picks which one the rest of the bytes stand for.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/FileList.h"
#include "app/Install.h"
#include "app/UpdateInfo.h"
#include "tqClassBase/tqClassBase.h"
#include "util/tqUtil.h"
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
        if (info->languages.size() > kMaxLanguageRecords) __builtin_trap();
        ChooseLanguage(*info, 1041);
        ChooseLanguage(*info, 1033);
        delete info;
      }
      break;
    }
    case 1: {
      char folder[260];
      if (ExtractInstallFolder(text.c_str(), folder) && NormaliseInstallFolder(folder)) {
        // Canonical and inside its drive: "X:\\", then parts that are neither
        // empty nor "." nor ".." (a trail byte 0x5C separates nothing), and
        // normalising again changes nothing.
        std::string f = folder;
        if (f.size() < 3 || f[1] != ':' || f[2] != '\\') __builtin_trap();
        std::string part;
        for (size_t i = 3; i <= f.size(); ++i) {
          if (i < f.size() && tqIsDoubleByte(f.c_str(), i)) {
            part.append(f, i++, 2);
            continue;
          }
          if (i < f.size() && f[i] != '\\') {
            part += f[i];
            continue;
          }
          if ((part.empty() && i != 3) || part == "." || part == "..") __builtin_trap();
          part.clear();
        }
        char again[260];
        memcpy(again, folder, sizeof again);
        if (!NormaliseInstallFolder(again) || strcmp(again, folder) != 0) __builtin_trap();
      }
      break;
    }
    case 2: {
      VersionWordFromText(text.c_str());
      uint16_t field;
      uint32_t word;
      if (ParseVersionField(text.c_str(), &field) && RequiredVersion(text.c_str(), "0", &word) &&
          word != (uint32_t)field << 16)
        __builtin_trap();
      break;
    }
    case 3: {
      LogList log;
      log.LoadText(text.c_str());
      log.Add("\"new.txt\"");
      log.SortUnique();
      // Sorted without regard to case, and no two lines equal that way.
      std::vector<std::string> lines = log.Lines();
      for (size_t i = 1; i < lines.size(); ++i)
        if (CompareNoCase(lines[i - 1].c_str(), lines[i].c_str()) >= 0) __builtin_trap();
      break;
    }
  }
  return 0;
}
