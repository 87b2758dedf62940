// The player's settings: the setup file in the save folder (read and
// written with the same keys at the same paths), the game's own defaults in
// "config.int/gamedef.xml", and the effective volumes.
#include <cstddef>
#include <cstring>

#include "file/tqFileServer.h"
#include "settings/tqConfig.h"
#include "settings/tqConfigInternal.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

using namespace tqconfig;

namespace {

// A number of the block at a path; the tables below are shared by the
// reader and the writer so that both use the same keys.
struct IntKey {
  const char* section;
  const char* key;
  size_t offset;
};
struct TextKey {
  const char* section;
  const char* key;
  size_t offset;
  size_t size;
};

#define TQ_INT(section, key, field) {section, key, offsetof(tqConfigData, field)}
#define TQ_TEXT(section, key, field) \
  {section, key, offsetof(tqConfigData, field), sizeof(tqConfigData::field)}

// System group, in file order. WINDOW/full_width and full_height are read on
// their own (they are taken only for a display mode).
const IntKey kSystemInts[] = {
    TQ_INT("WINDOW", "width", wndWidth),
    TQ_INT("WINDOW", "height", wndHeight),
    TQ_INT("WINDOW", "fps", wndFps),
    TQ_INT("WINDOW", "mode", wndMode),
    TQ_INT("WINDOW", "bpp", wndBpp),
    TQ_INT("WINDOW", "limit", wndLimit),
    TQ_INT("WINDOW", "fullscreen", wndFullscreen),
    TQ_INT("WINDOW", "setmode", wndSetmode),
    TQ_INT("WINDOW", "cursor_mode", wndCursorMode),
    TQ_INT("WINDOW", "screensaver", wndScreensaver),
    TQ_INT("WINDOW", "camouflage", wndCamouflage),
    TQ_INT("WINDOW", "out_info", wndOutInfo),
    TQ_INT("TEXTURE", "bpp", texBpp),
    TQ_INT("TEXTURE", "min", texMin),
    TQ_INT("TEXTURE", "mag", texMag),
    TQ_INT("TEXTURE", "dither", texDither),
    TQ_INT("SOUND", "ds3d", sndDs3d),
    TQ_INT("SOUND", "sticky", sndSticky),
    TQ_INT("SOUND", "stereo", sndStereo),
    TQ_INT("ETC", "imgcache", etcImgcache),
    TQ_INT("ETC", "dualcore", etcDualcore),
    TQ_INT("ETC", "disablemovie", etcDisableMovie),  // read with default 0
    TQ_INT("ETC", "disablepixelshader", etcDisablePixelShader),
    TQ_INT("ETC", "waitd3dcommand", etcWaitD3dCommand),
    TQ_INT("DEPEND", "gdi_cap", gdiCap),
    TQ_INT("D3D", "backbuffer", d3dBackbuffer),
    TQ_INT("D3D", "hardTnL", d3dHardTnL),
    TQ_INT("D3D", "light", d3dLight),
    TQ_INT("D3D", "vsync", d3dVsync),
    TQ_INT("D3D", "antialias", d3dAntialias),
    TQ_INT("D3D", "fogtype", d3dFogtype),
    TQ_INT("D3D", "tex_size", d3dTexSize),
    TQ_INT("D3D", "tex_comp", d3dTexComp),
    TQ_INT("FULL_SCREEN", "full_size", fullSize),
    TQ_INT("FULL_SCREEN", "full_pos", fullPos),
    TQ_INT("FULL_SCREEN", "mw_pos", mwPos),
    TQ_INT("FULL_SCREEN", "wall", wall),
    TQ_INT("FULL_SCREEN", "no_full_res", noFullRes),
};
const TextKey kSystemTexts[] = {
    TQ_TEXT("ETC", "picture", etcPicture),
    TQ_TEXT("ETC", "export", etcExport),
    TQ_TEXT("ETC", "imgimport", etcImgImport),
};
// Written, never read back.
const IntKey kSystemWriteOnly[] = {
    TQ_INT("WINDOW", "full_wide", wndFullWide),
    TQ_INT("ETC", "cache", etcCache),
};

const IntKey kConfigInts[] = {
    TQ_INT("CONFIG", "type", configType),
    TQ_INT("FONT", "bold", fontBold),
    TQ_INT("FONT", "proportional", fontProportional),
    TQ_INT("FONT", "fixed", fontFixed),
    TQ_INT("KEY", "enable_joypad", enableJoypad),
};
const TextKey kConfigTexts[] = {
    TQ_TEXT("FONT", "face", fontFace),
    TQ_TEXT("FONT", "faceruby", fontFaceRuby),
};

const IntKey kGameInts[] = {
    TQ_INT("VOICE", "vol_bgm", volBgm),
    TQ_INT("VOICE", "vol_se", volSe),
    TQ_INT("VOICE", "vol_voice", volVoice),
    TQ_INT("VOICE", "vol_play", volPlay),
    TQ_INT("VOICE", "vol_master", volMaster),
    TQ_INT("VOICE", "cont_voice", contVoice),
    TQ_INT("VOICE", "mute_master", muteMaster),
    TQ_INT("VOICE", "mute_bgm", muteBgm),
    TQ_INT("VOICE", "mute_se", muteSe),
    TQ_INT("VOICE", "mute_voice", muteVoice),
    TQ_INT("VOICE", "mute_play", mutePlay),
    TQ_INT("MESSAGE", "speed", msgSpeed),
    TQ_INT("MESSAGE", "auto_p", msgAutoPreset),
    TQ_INT("MESSAGE", "base", msgBase),
    TQ_INT("MESSAGE", "CHAR", msgChar),
    TQ_INT("MESSAGE", "ind", msgInd),
    TQ_INT("MESSAGE", "cont", msgCont),
    TQ_INT("MESSAGE", "still", msgStill),
    TQ_INT("MESSAGE", "waitpcm", msgWaitPcm),
    TQ_INT("MESSAGE", "skip_full", msgSkipFull),
    TQ_INT("MESSAGE", "log_limit", msgLogLimit),
    TQ_INT("EFFECT", "speed", effSpeed),
    TQ_INT("EFFECT", "help", effHelp),
    TQ_INT("EFFECT", "auto_c", effAutoC),
    TQ_INT("EFFECT", "auto_cd", effAutoCd),
    TQ_INT("EFFECT", "auto_cds", effAutoCds),
    TQ_INT("EFFECT", "dramatic", effDramatic),
    TQ_INT("EFFECT", "skipdraw", effSkipDraw),
    TQ_INT("EFFECT", "skipmot", effSkipMot),
    TQ_INT("GAME", "wndcolor", wndColor),
    TQ_INT("GAME", "enabledrag", enableDrag),
    TQ_INT("GAME", "drawwnd", drawWnd),
    TQ_INT("MESSAGE", "enable_read", enableRead),
    TQ_INT("MESSAGE", "read_color", readColor),
    TQ_INT("MESSAGE", "skipspeed", skipSpeed),
    TQ_INT("MESSAGE", "contskip", contSkip),
    TQ_INT("MESSAGE", "wipe", wipe),
    TQ_INT("MESSAGE", "ctrlmode", ctrlMode),
    TQ_INT("MESSAGE", "autoleft", autoLeft),
    TQ_INT("MESSAGE", "enable_read_sel", enableReadSel),
    TQ_INT("GAME", "autoselect", autoSelect),
    TQ_INT("GAME", "always_active", alwaysActive),
};

#undef TQ_INT
#undef TQ_TEXT

int32_t& IntAt(tqConfigData& d, size_t offset) {
  return *reinterpret_cast<int32_t*>(reinterpret_cast<char*>(&d) + offset);
}
int32_t IntAt(const tqConfigData& d, size_t offset) {
  int32_t v;
  memcpy(&v, reinterpret_cast<const char*>(&d) + offset, sizeof v);
  return v;
}
char* TextAt(tqConfigData& d, size_t offset) { return reinterpret_cast<char*>(&d) + offset; }
const char* TextAt(const tqConfigData& d, size_t offset) {
  return reinterpret_cast<const char*>(&d) + offset;
}

template <size_t N>
void ReadInts(tqXml& x, tqConfigData& d, const IntKey (&table)[N]) {
  for (const IntKey& k : table) ReadInt(x, IntAt(d, k.offset), {k.section, k.key});
}
template <size_t N>
void ReadTexts(tqXml& x, tqConfigData& d, const TextKey (&table)[N]) {
  for (const TextKey& k : table) {
    char* field = TextAt(d, k.offset);
    field[k.size - 1] = 0;
    x.GetStrPath(field, k.size, field, {k.section, k.key});
  }
}
template <size_t N>
void WriteInts(tqXml& x, const tqConfigData& d, const IntKey (&table)[N]) {
  for (const IntKey& k : table) WriteInt(x, IntAt(d, k.offset), {k.section, k.key});
}
template <size_t N>
void WriteTexts(tqXml& x, const tqConfigData& d, const TextKey (&table)[N]) {
  for (const TextKey& k : table) {
    const char* field = TextAt(d, k.offset);
    x.SetStrPath(std::string(field, FieldLength(field, k.size)).c_str(), {k.section, k.key});
  }
}

// The key bindings the setup file carries: keyboard, mouse and joypad and
// their repeats, slots 1 to 3, for every entry.
template <typename F>
void ForEachBinding(F&& f) {
  static const char* const kFormats[6] = {"kb%d_%02d",  "ms%d_%02d",  "jp%d_%02d",
                                          "kb%dr_%02d", "ms%dr_%02d", "jp%dr_%02d"};
  for (int i = 0; i < TQCONFIG_KEYS; ++i)
    for (int k = 0; k < 6; ++k)
      for (int slot = 1; slot <= 3; ++slot) f(i, k, slot, Format(kFormats[k], slot, i));
}

uint8_t* Slots(tqKeyEntry& e, int kind) {
  uint8_t* slots[6] = {e.keyboard, e.mouse, e.joypad, e.repKeyboard, e.repMouse, e.repJoypad};
  return slots[kind];
}
const uint8_t* Slots(const tqKeyEntry& e, int kind) {
  return Slots(const_cast<tqKeyEntry&>(e), kind);
}

}  // namespace

// ------------------------------------------------------------------ groups

void tqConfig::ReadSystemSettings(tqXml& x) {
  tqConfigData& d = data_;
  d.etcDisableMovie = 0;
  ReadInts(x, d, kSystemInts);
  ReadTexts(x, d, kSystemTexts);
  // The full-screen size is taken only when it is one of the display's modes.
  int32_t w = x.GetInt(d.wndWidth, 2, "WINDOW", "full_width");
  int32_t h = x.GetInt(d.wndHeight, 2, "WINDOW", "full_height");
  if (IsFullScreenMode(Display(), w, h)) {
    d.fullWidth = w;
    d.fullHeight = h;
  }
}

void tqConfig::WriteSystemSettings(tqXml& x) const {
  const tqConfigData& d = data_;
  WriteInts(x, d, kSystemInts);
  WriteInt(x, d.fullWidth, {"WINDOW", "full_width"});
  WriteInt(x, d.fullHeight, {"WINDOW", "full_height"});
  WriteInts(x, d, kSystemWriteOnly);
  WriteTexts(x, d, kSystemTexts);
}

void tqConfig::ReadConfigSettings(tqXml& x) {
  tqConfigData& d = data_;
  ReadInts(x, d, kConfigInts);
  ReadTexts(x, d, kConfigTexts);
  ReadInt(x, d.fontShadowRightDown, {"FONT", "shadow", "rightdown"});
  ReadInt(x, d.fontShadowAround, {"FONT", "shadow", "around"});
  ForEachBinding([&](int entry, int kind, int slot, const std::string& name) {
    tqKeyEntry& e = d.keys[entry];
    if (!e.name[0]) return;
    uint8_t& b = Slots(e, kind)[slot - 1];
    b = (uint8_t)x.GetIntPath(b, {"KEY", name});
  });
}

void tqConfig::WriteConfigSettings(tqXml& x) const {
  const tqConfigData& d = data_;
  WriteInts(x, d, kConfigInts);
  WriteTexts(x, d, kConfigTexts);
  WriteInt(x, d.fontShadowRightDown, {"FONT", "shadow", "rightdown"});
  WriteInt(x, d.fontShadowAround, {"FONT", "shadow", "around"});
  ForEachBinding([&](int entry, int kind, int slot, const std::string& name) {
    const tqKeyEntry& e = d.keys[entry];
    if (!e.name[0]) return;
    WriteInt(x, Slots(e, kind)[slot - 1], {"KEY", name});
  });
}

void tqConfig::ReadGameSettings(tqXml& x) {
  tqConfigData& d = data_;
  ReadInts(x, d, kGameInts);
  for (int i = 0; i < TQCONFIG_VOICES; ++i)
    ReadInt(x, d.voicePlay[i], {"VOICE", Format("play%02d", i)});
  for (int i = 0; i < TQCONFIG_SYSTEM_VOICES; ++i)
    ReadInt(x, d.systemVoices[i].play, {"SYSTEMVOICE", Format("play%02d", i)});
}

void tqConfig::WriteGameSettings(tqXml& x) const {
  const tqConfigData& d = data_;
  WriteInts(x, d, kGameInts);
  for (int i = 0; i < TQCONFIG_VOICES; ++i)
    WriteInt(x, d.voicePlay[i], {"VOICE", Format("play%02d", i)});
  for (int i = 0; i < TQCONFIG_SYSTEM_VOICES; ++i)
    WriteInt(x, d.systemVoices[i].play, {"SYSTEMVOICE", Format("play%02d", i)});
}

// ------------------------------------------------------------------ files

std::string tqConfig::SetupPath() const { return JoinPath(Field(data_.saveFolder), setupFile_); }

int tqConfig::LoadUserSettings(int flags) {
  tqXml xml;
  if (!xml.Open(SetupPath().c_str())) return 0;
  if (flags & TQCONFIG_SYSTEM) ReadSystemSettings(xml);
  if (flags & TQCONFIG_GAME) {
    ReadConfigSettings(xml);
    ReadGameSettings(xml);
  }
  return 1;
}

int tqConfig::SaveUserSettings(int flags) {
  tqXml xml;
  if (!xml.Create()) return 0;
  if (flags & TQCONFIG_SYSTEM) WriteSystemSettings(xml);
  if (flags & TQCONFIG_GAME) {
    WriteConfigSettings(xml);
    WriteGameSettings(xml);
  }
  std::string path = SetupPath();
  // A first save finds no save folder yet. (The folder routine works within
  // the platform's path limit.)
  if (path.size() < 260) tqCreateFolderTree(path.c_str(), true);
  xml.Save(path.c_str());
  return xml.Parser() && xml.Parser()->Error() == 0 ? 1 : 0;
}

int tqConfig::LoadGameDefaults() {
  if (!g_tqFileServer) return 0;
  tqXml xml;
  if (!tqConfigParseFile(xml, "config.int/gamedef.xml")) return 0;
  ReadGameSettings(xml);
  return 1;
}

int tqConfig::LoadGameDefaultsAndCommit() {
  int result = LoadGameDefaults();
  saved_ = data_;
  UpdateEffectiveVolumes();
  return result;
}

int tqConfig::LoadAllUserSettings() {
  int result = LoadUserSettings(TQCONFIG_SYSTEM | TQCONFIG_GAME);
  UpdateEffectiveVolumes();
  return result;
}

void tqConfig::UpdateEffectiveVolumes() {
  tqConfigData& d = data_;
  auto effective = [&](int32_t channel) {
    return (int32_t)((int64_t)d.volMaster * channel / 100);
  };
  d.effVolBgm = effective(d.volBgm);
  d.effVolSe = effective(d.volSe);
  d.effVolVoice = effective(d.volVoice);
  d.effVolPlay = effective(d.volPlay);
}
