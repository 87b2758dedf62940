// tqConfig: the engine's configuration. One object per process holds the
// settings block (defaults, then the start-up definition, then the player's
// files), a saved copy of it, the text replacements and the sound groups; it
// expands folder macros, joins short names with configured folders and can
// hand its block to another process over DDE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/tqDisplay.h"
#include "settings/tqConfigData.h"
#include "tqClassBase/tqClassBase.h"

class tqXml;

// Bits of LoadUserSettings and SaveUserSettings.
enum : int {
  TQCONFIG_SYSTEM = 1,  // window, texture, sound, ETC, D3D, full screen
  TQCONFIG_GAME = 2,    // configuration (fonts, keys) and game (volumes, message, effects)
};

// Modes given at creation.
enum : int {
  TQCONFIG_MODE_ENGINE = 0,
  TQCONFIG_MODE_DDE = 2,  // the settings come from a running engine (FetchFromDde)
};

// One entry of SOUNDGROUP in the sound definition.
struct SoundGroupEntry {
  int32_t id = -1;
  std::string comment;
  std::string label;
  std::string type;  // also the key of the folder its sounds live in
  int32_t min = -1;
  int32_t max = -1;
};

// One node of the sound part tree. Values of -1 (and empty texts) are unset
// and inherited from the parent part.
struct SoundPart {
  std::string element;  // the element it was read from; names it in the override file
  std::string name;
  int32_t id = -1;
  std::string type;
  std::string head;  // lower case
  int32_t group = -1;
  std::string folder;  // the int key
  int32_t masterVolume = -1;
  int32_t volume = -1;
  int32_t play = -1;
  int32_t sysPlay = -1;
  int32_t voiceVolume = -1;
  int32_t skipVolume = -1;
  int32_t sameId = 0;
  int32_t mute = 0;
  // The player's values (override file), else the definition's.
  int32_t curVolume = -1;
  int32_t curPlay = -1;
  int32_t curSysPlay = -1;
  int32_t curVoiceVolume = -1;
  int32_t curSkipVolume = -1;
  int32_t curMute = 0;
  std::vector<SoundPart> children;
};

// The display the full-screen size is matched against.
struct tqDisplayInfo {
  bool known = false;  // whether current holds the display's mode
  tqp::DisplayMode current;
  std::vector<tqp::DisplayMode> modes;
};

class tqConfig : public tqClassBase {
 public:
  // Null names select "config\startup.xml" and "setup.xml". Loads the
  // defaults and the start-up definition, takes the saved copy and becomes the
  // process's configuration.
  tqConfig(const char* startupFile, const char* setupFile, int mode);
  ~tqConfig();
  tqConfig(const tqConfig&) = delete;
  tqConfig& operator=(const tqConfig&) = delete;

  tqConfigData& Data() { return data_; }
  const tqConfigData& Data() const { return data_; }
  tqConfigData& Saved() { return saved_; }
  int Mode() const { return mode_; }
  const char* StartupFile() const { return startupFile_; }
  const char* SetupFile() const { return setupFile_; }

  // ---- folder macros and paths. Destinations hold capacity bytes; a longer
  // result is cut (never inside a double-byte character) and terminated.
  // Returns the length written.
  int ExpandPath(char* dst, size_t capacity, const char* src) const;
  // The value of one whole token ("%save%"), or the token itself.
  int ExpandMacro(char* dst, size_t capacity, const char* token) const;
  // Index of the folder whose key is key (any case), or -1. For the key
  // "sound" the name is looked up in the sound definitions instead.
  int FindFolder(const char* key, const char* name) const;
  // Joins a short name with the folder of key (adding its default extension
  // to a name without one); a name with a folder part comes back unchanged.
  // 1, or 0 when the key names no folder.
  int ResolvePath(char* dst, size_t capacity, const char* name, const char* key) const;

  // ---- sound definitions
  // The sound definition file name (SOUNDCONFIG unless set here).
  void SetSoundFile(const char* name);
  const char* SoundFile() const { return soundFile_; }
  // Finds the sound definition in the folder "config"; loads it when present.
  // Returns the presence flag.
  int CheckSoundFile();
  int SoundPresent() const { return soundPresent_; }
  // Loads the sound groups and parts from a resolved name (file server, else
  // disk), then the player's copy of the same file name from the save folder.
  // 1 when the definition was parsed; the presence flag follows.
  int LoadSoundDefinition(const char* resolvedName);
  // The sound groups and parts of an already parsed definition, and the
  // override document (null: none).
  void ReadSoundDefinition(tqXml& definition, tqXml* override);
  const std::map<int32_t, SoundGroupEntry>& SoundGroups() const { return soundGroups_; }
  const SoundPart& MasterPart() const { return master_; }
  const std::vector<SoundPart>& Parts() const { return parts_; }

  // ---- text replacements of SCRIPT/replace, find text -> replacement.
  const std::map<std::string, std::string>& Replacements() const { return replacements_; }

  // ---- user settings
  // Reads the setup file in the save folder (bits TQCONFIG_SYSTEM and
  // TQCONFIG_GAME); 1 when it was parsed, else 0 and nothing changes.
  int LoadUserSettings(int flags);
  // Writes the groups of flags to the setup file in the save folder (created
  // with its folders when missing); 1 when the file was written.
  int SaveUserSettings(int flags);
  // Reads the game group from "config.int/gamedef.xml" through the file
  // server; 0 when there is none.
  int LoadGameDefaults();
  // LoadGameDefaults, then the saved copy is taken again and the effective
  // volumes recomputed.
  int LoadGameDefaultsAndCommit();
  // LoadUserSettings with both groups, then the effective volumes.
  int LoadAllUserSettings();
  void UpdateEffectiveVolumes();
  // Path of the setup file: the save folder joined with its name.
  std::string SetupPath() const;

  // The groups read from (or written to) a document.
  void ReadSystemSettings(tqXml& xml);
  void ReadConfigSettings(tqXml& xml);
  void ReadGameSettings(tqXml& xml);
  void WriteSystemSettings(tqXml& xml) const;
  void WriteConfigSettings(tqXml& xml) const;
  void WriteGameSettings(tqXml& xml) const;

  // ---- the start-up definition
  // Zero-fills the block and sets every default.
  void SetDefaults();
  // Reads the start-up settings and the user-settings defaults from a
  // parsed definition.
  void ReadStartup(tqXml& xml);

  // ---- DDE: type 1 serves "TQDDE_SERVER" with the items "tqConfig_CONFIG"
  // and "tqConfig_PATH", type 2 ends the serving. 0 without a DDE object.
  int PublishDde(int type);
  // With mode 2: takes the settings block of a running engine of the same
  // folder. 1 when the block arrived.
  int FetchFromDde();

  // ---- display modes the full-screen size is matched against. Tests and
  // tools may fix them; null goes back to asking the platform.
  static void OverrideDisplay(const tqDisplayInfo* display);
  static tqDisplayInfo Display();
  // The full-screen size for a wanted size: an exact mode of the current
  // colour format, refresh and aspect, else the first such mode at least as
  // large, else the display's size. False (size untouched) when the display
  // is unknown.
  static bool MatchFullScreen(const tqDisplayInfo& display, int32_t* width, int32_t* height);
  // Whether the size is one of those modes.
  static bool IsFullScreenMode(const tqDisplayInfo& display, int32_t width, int32_t height);

  // The folder of the running program (no trailing separator).
  static bool ProgramFolder(char* out, size_t size);

 private:
  void LoadStartupFile();
  bool ParseResolved(tqXml& xml, const char* name) const;
  void ReadKeyBindings(tqXml& xml);

  char startupFile_[260];
  char setupFile_[260];
  tqConfigData data_;
  tqConfigData saved_;
  int32_t mode_;
  int32_t soundPresent_ = 0;
  char soundFile_[260];
  std::map<std::string, std::string> replacements_;
  std::map<int32_t, SoundGroupEntry> soundGroups_;
  SoundPart master_;
  std::vector<SoundPart> parts_;
  bool published_ = false;
  bool ddeConnected_ = false;
};

// The process's configuration, its current settings and their saved copy;
// null while no configuration exists.
extern tqConfig* g_tqConfig;
extern tqConfigData* g_tqConfigData;
extern tqConfigData* g_tqConfigSaved;

// Lets the file server find its preload switch (ETC/cache) in the
// configuration when it is constructed.
void tqConfigInstallHooks();

// Reads a file through the file server (flags 0x13) into a zero-filled
// buffer of its size + 8 bytes and parses it; without a server, the name is
// taken relative to the current folder. 1 when it was parsed.
int tqConfigParseFile(tqXml& xml, const char* name);
