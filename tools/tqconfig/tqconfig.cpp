// tqconfig: shows a game's engine configuration as the engine loads it, for
// game makers checking their start-up definition, game defaults, setup and
// sound files.
#include <cstdio>
#include <cstring>
#include <string>

#include "file/tqFileServer.h"
#include "platform/tqConsole.h"
#include "settings/tqConfig.h"
#include "settings/tqConfigFields.h"
#include "tqClassBase/tqClassBase.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 2;

const char kUsage[] =
    "usage: tqconfig dump [--startup FILE] [--setup FILE] [--gamedef FILE] [--sound FILE]\n"
    "\n"
    "Loads the engine configuration of the game in the current folder the way the\n"
    "engine does and prints every setting as \"SECTION/key = value\", then the text\n"
    "replacements, the folder table and the sound groups and parts.\n"
    "\n"
    "  --startup FILE  the start-up definition (default config\\startup.xml)\n"
    "  --gamedef FILE  the game defaults (default config.int/gamedef.xml through the\n"
    "                  file server)\n"
    "  --setup FILE    the player's settings (default setup.xml in the save folder)\n"
    "  --sound FILE    the sound definition (default the SOUNDCONFIG file in the\n"
    "                  folder \"config\"); the player's copy is looked for in the\n"
    "                  save folder\n"
    "\n"
    "Texts are shown in the terminal's charset. Exit status 0, or 2 when a file\n"
    "given on the command line cannot be read.\n";

// Debug lines of the library, shown on the error output.
class StderrSink : public tqLogSink {
 public:
  void Line(const char* text) override {
    fprintf(stderr, "%s\n", tqp::ConsoleFromNarrow(text).c_str());
  }
};

std::string Show(const std::string& narrow) { return tqp::ConsoleFromNarrow(narrow); }

void PrintPart(const SoundPart& p, int depth) {
  std::string indent(2 * (size_t)depth, ' ');
  printf("%s%s: name=%s id=%d type=%s head=%s group=%d int=%s\n", indent.c_str(),
         Show(p.element).c_str(), Show(p.name).c_str(), p.id, Show(p.type).c_str(),
         Show(p.head).c_str(), p.group, Show(p.folder).c_str());
  printf("%s  mastervol=%d volume=%d play=%d sysplay=%d voicevol=%d skipvol=%d sameid=%d mute=%d\n",
         indent.c_str(), p.masterVolume, p.volume, p.play, p.sysPlay, p.voiceVolume, p.skipVolume,
         p.sameId, p.mute);
  printf("%s  current: volume=%d play=%d sysplay=%d voicevol=%d skipvol=%d mute=%d\n",
         indent.c_str(), p.curVolume, p.curPlay, p.curSysPlay, p.curVoiceVolume, p.curSkipVolume,
         p.curMute);
  for (const SoundPart& child : p.children) PrintPart(child, depth + 1);
}

void Print(const tqConfig& config) {
  const tqConfigData& d = config.Data();
  for (const tqConfigField& f : tqConfigFields())
    printf("%s = %s\n", f.name.c_str(), Show(tqConfigFieldValue(d, f)).c_str());

  printf("\n[replacements]\n");
  for (const auto& r : config.Replacements())
    printf("%s => %s\n", Show(r.first).c_str(), Show(r.second).c_str());

  printf("\n[folders]\n");
  for (int i = 0; i < TQCONFIG_FOLDERS; ++i) {
    const tqFolderDefinition& f = d.folders[i];
    if (!f.key[0] && !f.path[0]) continue;
    std::string key(f.key, strnlen(f.key, sizeof f.key)), ext(f.ext, strnlen(f.ext, sizeof f.ext));
    std::string path(f.path, strnlen(f.path, sizeof f.path)), name(f.name, strnlen(f.name, sizeof f.name));
    printf("%03d %s ext=%s dir=%s name=%s\n", i, Show(key).c_str(), Show(ext).c_str(),
           Show(path).c_str(), Show(name).c_str());
  }

  printf("\n[sound] %s\n", config.SoundPresent() ? Show(config.SoundFile()).c_str() : "(none)");
  for (const auto& g : config.SoundGroups())
    printf("group %d: type=%s label=%s comment=%s min=%d max=%d\n", g.first,
           Show(g.second.type).c_str(), Show(g.second.label).c_str(),
           Show(g.second.comment).c_str(), g.second.min, g.second.max);
  if (config.SoundPresent()) {
    PrintPart(config.MasterPart(), 0);
    for (const SoundPart& p : config.Parts()) PrintPart(p, 0);
  }
}

bool ParseFile(tqXml& xml, const std::string& path) {
  if (xml.Open(path.c_str())) return true;
  fprintf(stderr, "tqconfig: cannot read %s\n", Show(path).c_str());
  return false;
}

int Dump(int argc, char** argv) {
  std::string startup, setup, gamedef, sound;
  for (int i = 2; i < argc; ++i) {
    std::string* target = nullptr;
    if (!strcmp(argv[i], "--startup")) target = &startup;
    else if (!strcmp(argv[i], "--setup")) target = &setup;
    else if (!strcmp(argv[i], "--gamedef")) target = &gamedef;
    else if (!strcmp(argv[i], "--sound")) target = &sound;
    if (!target || i + 1 >= argc) {
      fputs(kUsage, stderr);
      return kFailed;
    }
    if (!tqp::LibraryPathFromArgument(argv[++i], *target)) {
      fprintf(stderr, "tqconfig: %s has no Shift_JIS form\n", argv[i]);
      return kFailed;
    }
  }

  tqXml gamedefXml, setupXml;
  if (!gamedef.empty() && !ParseFile(gamedefXml, gamedef)) return kFailed;
  if (!setup.empty() && !ParseFile(setupXml, setup)) return kFailed;

  tqConfig* config = new tqConfig(startup.empty() ? nullptr : startup.c_str(), nullptr, 0);
  if (gamedef.empty()) {
    config->LoadGameDefaultsAndCommit();
  } else {
    config->ReadGameSettings(gamedefXml);
    config->Saved() = config->Data();
    config->UpdateEffectiveVolumes();
  }
  if (setup.empty()) {
    config->LoadAllUserSettings();
  } else {
    config->ReadSystemSettings(setupXml);
    config->ReadConfigSettings(setupXml);
    config->ReadGameSettings(setupXml);
    config->UpdateEffectiveVolumes();
  }
  int result = kDone;
  if (sound.empty()) {
    config->CheckSoundFile();
  } else {
    std::string name(sound.size() + 1, '\0');
    tqFileNameOf(sound.c_str(), name.data());
    config->SetSoundFile(name.c_str());
    if (!config->LoadSoundDefinition(sound.c_str())) {
      fprintf(stderr, "tqconfig: cannot read %s\n", Show(sound).c_str());
      result = kFailed;
    }
  }
  if (result == kDone) Print(*config);
  delete config;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || strcmp(argv[1], "dump") != 0) {
    fputs(kUsage, argc >= 2 && !strcmp(argv[1], "--help") ? stdout : stderr);
    return argc >= 2 && !strcmp(argv[1], "--help") ? kDone : kFailed;
  }
  tqFileServerInstallHooks();
  LibraryStartup(0, 0);
  AttachLogSink(new StderrSink);
  int result = Dump(argc, argv);
  LibraryShutdown();
  return result;
}
