// Feeds fuzzer bytes to every reader of the configuration: as the start-up
// definition, as the player's setup file, as the game defaults, as the sound
// definition and its override; then writes the settings back and resolves
// names taken from the bytes. Hostile files must only ever give defaults.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/tqPlatform.h"
#include "settings/tqConfig.h"
#include "tqClassBase/tqClassBase.h"
#include "xml/tqXml.h"

namespace {

std::string g_dir;

bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  tqp::FileHandle h =
      tqp::FileOpen(path.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return false;
  uint32_t done = 0;
  bool ok = size == 0 || tqp::FileWrite(h, data, (uint32_t)size, &done);
  return tqp::FileClose(h) && ok && done == size;
}

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  if (text.size() >= N) abort();
  memcpy(field, text.c_str(), text.size() + 1);
}

// Texts must stay terminated within their fields whatever was read.
template <size_t N>
void CheckField(const char (&field)[N]) {
  if (!memchr(field, 0, N)) abort();
}

void CheckTexts(const tqConfigData& d) {
  CheckField(d.brand);
  CheckField(d.title);
  CheckField(d.saveFolder);
  CheckField(d.imglibFolder);
  CheckField(d.infoComment);
  CheckField(d.logNameFirst);
  CheckField(d.etcPicture);
  CheckField(d.fontFace);
  CheckField(d.soundConfig);
  for (const tqFolderDefinition& f : d.folders) {
    CheckField(f.key);
    CheckField(f.ext);
    CheckField(f.path);
    CheckField(f.name);
  }
  for (const tqKeyEntry& k : d.keys) CheckField(k.name);
  for (const tqVoiceEntry& v : d.voices) CheckField(v.folder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CreatePrivateHeap(10485760);
  char temp[1024];
  tqp::GetTempPath(temp, sizeof temp);
  g_dir = std::string(temp) + "tqfuzz-settings-" + std::to_string(tqp::CurrentThreadId());
  tqp::CreateDirectory(g_dir.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = g_dir + "\\f.xml";
  if (!WriteScratch(file, data, size)) return 0;

  // Start-up definition through the loader.
  tqConfig* config = new tqConfig(file.c_str(), "f.xml", 0);
  tqConfigData& d = config->Data();
  CheckTexts(d);

  // The same bytes as the player's setup file and as the game defaults.
  Put(d.saveFolder, g_dir);
  config->LoadAllUserSettings();
  tqXml xml;
  // (A length of 0 would mean a terminated text.)
  if (size && xml.OpenMem(data, size)) config->ReadGameSettings(xml);
  CheckTexts(d);

  // As the sound definition, with itself as the override.
  config->SetSoundFile("f.xml");
  config->LoadSoundDefinition(file.c_str());
  config->CheckSoundFile();
  std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  if (text.size() > 600) text.resize(600);
  char out[300];
  config->ExpandPath(out, sizeof out, text.c_str());
  if (!memchr(out, 0, sizeof out)) abort();
  config->ResolvePath(out, sizeof out, text.c_str(), "sound");
  config->ResolvePath(out, sizeof out, text.c_str(), d.folders[0].key);
  config->FindFolder("sound", text.c_str());

  // Written back and read again.
  config->SaveUserSettings(TQCONFIG_SYSTEM | TQCONFIG_GAME);
  config->LoadUserSettings(TQCONFIG_SYSTEM | TQCONFIG_GAME);
  CheckTexts(d);
  delete config;
  return 0;
}
