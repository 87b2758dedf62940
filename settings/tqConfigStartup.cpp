// The start-up definition: every default of the settings block, and the
// reading of "config\startup.xml" into it, key by key in the engine's order.
#include <cstring>

#include "file/tqFile.h"
#include "settings/tqConfig.h"
#include "settings/tqConfigInternal.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

using namespace tqconfig;

namespace {

// Values of the game rather than of the engine; neutral ones of our own.
const char kDefaultBrand[] = "SampleMaker";
const char kDefaultTitle[] = "SampleGame";
const char kDefaultUrl[] = "http://www.example.com/";
const char kSceneTool[] = "scenelist.exe";

const char kInfoComment[] =
    "■■ システム情報 ■■\r\n\r\n"
    " Eメールでサポートを受ける時は、このファイルを添付してください。\r\n\r\n\r\n";

// Base and char of the message-speed presets p00 to p09; the rest are 0.
const int32_t kPresets[10][2] = {{5, 7},   {7, 8},   {8, 8},   {12, 7},  {15, 5},
                                 {16, 9},  {17, 12}, {21, 11}, {25, 10}, {29, 10}};

// Default window colour components.
constexpr int32_t kWndRed = 0, kWndGreen = 0, kWndBlue = 0, kWndAlpha = 255;

template <size_t N>
void Set(char (&field)[N], const char* text) {
  CopyText(field, N, text, strlen(text));
}

uint32_t PackColour(int32_t r, int32_t g, int32_t b, int32_t a, bool scaleAlpha) {
  if (scaleAlpha) a = (int32_t)((int64_t)(a & 0xFF) * 100 / 255);
  return (uint32_t)(a & 0xFF) << 24 | (uint32_t)(r & 0xFF) << 16 | (uint32_t)(g & 0xFF) << 8 |
         (uint32_t)(b & 0xFF);
}

// The user's application-data folder, the brand and "zpv".
std::string DefaultSaveFolder(const char* brand) {
  char appData[1024];
  if (!tqShellFolder(9, appData)) appData[0] = 0;
  return JoinPath(JoinPath(appData, brand), "zpv");
}

}  // namespace

void tqConfig::SetDefaults() {
  tqConfigData& d = data_;
  memset(&d, 0, sizeof d);
  d.iniVersion = 10;
  d.virtualWidth = 800;
  d.virtualHeight = 600;
  d.screenList[0] = {800, 600};
  Set(d.brand, kDefaultBrand);
  Set(d.title, kDefaultTitle);
  Set(d.versionCode, "open_zpv");
  Set(d.url, kDefaultUrl);
  d.heap = 0x40000;
  Set(d.startScript, "main.tqs");
  std::string save = DefaultSaveFolder(d.brand);
  Set(d.saveFolder, save.c_str());
  Set(d.imglibFolder, JoinPath(save, "imglib").c_str());
  Set(d.infoFile, "info.txt");
  Set(d.infoComment, kInfoComment);

  d.cfgMode = d.cfgKey = d.cfgSnd = d.cfgEff = d.cfgWnd = d.cfgMes = d.cfgFont = d.cfgSysv = 1;
  d.cfgWndAlpha = 1;
  d.enableDrag = 1;
  for (int i = 0; i < 10; ++i) {
    d.presetBase[i] = kPresets[i][0];
    d.presetChar[i] = kPresets[i][1];
  }
  for (tqStartupSoundGroup& g : d.soundGroups) {
    g.id = -1;
    g.min = -1;
    g.max = -1;
  }
  Set(d.sceneCurrent, "scene");
  Set(d.sceneCommand, kSceneTool);
  Set(d.sceneParam, "*.txt");
  d.logType = 1;
  d.logCol = 40;
  d.logProf = 4;
  d.logNameLine = 1;
  d.logIndent = 1;
  d.logDispMes = 1;
  d.logDispName = 1;
  d.logEscape = 1;
  d.flagMax = 1024;
  for (int i = 0; i < TQCONFIG_FLAG_RANGES; ++i) {
    d.flagLocal[i] = {-1, -1};
    d.flagGlobal[i] = {-1, -1};
  }
  d.flagLocal[0] = {0, 512};
  d.flagGlobal[0] = {512, 512};

  // User settings.
  d.wndWidth = d.fullWidth = d.virtualWidth;
  d.wndHeight = d.fullHeight = d.virtualHeight;
  d.etcCache = 1;
  d.etcDragWnd = 1;
  d.volBgm = d.volSe = d.volVoice = d.volPlay = d.volMaster = 100;
  for (int32_t& play : d.voicePlay) play = 1;
  for (tqVoiceEntry& v : d.voices) {
    v.masterVolume = 100;
    v.group = -1;
  }
  for (tqSystemVoiceEntry& v : d.systemVoices) v.play = 1;
  d.wndColor = PackColour(kWndRed, kWndGreen, kWndBlue, kWndAlpha, d.cfgWndAlpha != 0);
  d.msgBase = d.presetBase[0];
  d.msgChar = d.presetChar[0];
  replacements_.clear();
}

void tqConfig::ReadStartup(tqXml& x) {
  tqConfigData& d = data_;
  ReadInt(x, d.iniVersion, {"VERSION", "ini"});
  ReadInt(x, d.virtualWidth, {"SCREEN", "v_width"});
  ReadInt(x, d.virtualHeight, {"SCREEN", "v_height"});
  d.wndWidth = d.virtualWidth;
  d.wndHeight = d.virtualHeight;
  for (int i = 0; i < TQCONFIG_SCREEN_SIZES; ++i) {
    std::string type = Format("type%d", i);
    ReadInt(x, d.screenList[i].w, {"SCREEN", "list", type, "w"});
    ReadInt(x, d.screenList[i].h, {"SCREEN", "list", type, "h"});
  }
  ReadText(x, d.brand, {"APP", "brand"});
  ReadText(x, d.title, {"APP", "title"});
  ReadText(x, d.mutex, {"APP", "mutex"});
  ReadText(x, d.mutexConfig, {"APP", "mutex_cfg"});
  ReadText(x, d.versionCode, {"APP", "v_code"});
  ReadInt(x, d.noSkip, {"SCREEN", "no_skip"});
  ReadInt(x, d.versionMajor, {"VERSION", "major"});
  ReadInt(x, d.versionMinor, {"VERSION", "minor"});
  ReadText(x, d.url, {"WEB", "url"});
  ReadInt(x, d.heap, {"ETC", "heap"});
  ReadText(x, d.startScript, {"SCRIPT", "start"});
  ReadInt(x, d.cursorType, {"CURSOR", "type"});
  ReadText(x, d.cursorDefault, {"CURSOR", "default"});
  ReadInt(x, d.cursorHotX, {"CURSOR", "hx"});
  ReadInt(x, d.cursorHotY, {"CURSOR", "hy"});

  // Folder texts may hold macros; they are expanded into their fields.
  std::string saveDefault = DefaultSaveFolder(Field(d.brand).c_str());
  char scratch[260];
  x.GetStr(scratch, sizeof scratch, saveDefault.c_str(), 2, "FOLDER", "save");
  ExpandPath(d.saveFolder, sizeof d.saveFolder, scratch);
  x.GetStr(scratch, sizeof scratch, JoinPath(saveDefault, "imglib").c_str(), 2, "FOLDER",
           "imglib");
  ExpandPath(d.imglibFolder, sizeof d.imglibFolder, scratch);

  ReadText(x, d.icon, {"APP", "icon"});
  ReadInt(x, d.iconNo, {"APP", "iconno"});
  ReadText(x, d.banner, {"APP", "banner"});
  ReadText(x, d.infoFile, {"INFO", "file"});
  ReadText(x, d.infoComment, {"INFO", "comment"});
  ReadInt(x, d.textureSizeX, {"TEXTURE", "size", "x"});
  ReadInt(x, d.textureSizeY, {"TEXTURE", "size", "y"});
  ReadInt(x, d.textureVtX, {"TEXTURE", "vt", "x"});
  ReadInt(x, d.textureVtY, {"TEXTURE", "vt", "y"});
  for (int i = 0; i < TQCONFIG_TEXTURE_AREAS; ++i) {
    std::string area = Format("area%02d", i);
    ReadInt(x, d.textureArea[i].sx, {"TEXTURE", area, "sx"});
    ReadInt(x, d.textureArea[i].sy, {"TEXTURE", area, "sy"});
    ReadInt(x, d.textureArea[i].dx, {"TEXTURE", area, "dx"});
    ReadInt(x, d.textureArea[i].dy, {"TEXTURE", area, "dy"});
  }
  ReadInt(x, d.bpp32y, {"TEXTURE", "bpp32y"});
  ReadInt(x, d.bpp16y, {"TEXTURE", "bpp16y"});
  ReadInt(x, d.vertexShaderMax, {"SHADER", "VERTEX_MA"});
  ReadInt(x, d.vertexShaderMin, {"SHADER", "VERTEX_MI"});
  // There is no PIXEL_MI: PIXEL_MA gives both.
  ReadInt(x, d.pixelShaderMax, {"SHADER", "PIXEL_MA"});
  ReadInt(x, d.pixelShaderMin, {"SHADER", "PIXEL_MA"});
  for (int i = 0; i < TQCONFIG_NEEDS; ++i) ReadInt(x, d.need[i], {"INT", Format("need%02d", i)});
  for (int i = 0; i < TQCONFIG_FOLDERS; ++i) {
    std::string entry = Format("int%02d", i);
    tqFolderDefinition& f = d.folders[i];
    ReadText(x, f.key, {"INT", entry, "int"});
    ReadText(x, f.ext, {"INT", entry, "ext"});
    ReadText(x, f.path, {"INT", entry, "dir"});
    ReadText(x, f.name, {"INT", entry, "name"});
  }
  ReadText(x, d.defaultFolder, {"FOLDER", "default"});
  ReadText(x, d.manualPath, {"MANUAL", "path"});
  d.manualPresent = 0;
  if (d.manualPath[0]) {
    tqFile file;
    d.manualPresent = file.Exists(d.manualPath) ? 1 : 0;
  }
  ReadText(x, d.cdid, {"APP", "cdid"});

  ReadInt(x, d.cfgMode, {"CONFIG_B", "mode"});
  ReadInt(x, d.cfgKey, {"CONFIG_B", "key"});
  ReadInt(x, d.cfgSnd, {"CONFIG_B", "snd"});
  ReadInt(x, d.cfgEff, {"CONFIG_B", "eff"});
  ReadInt(x, d.cfgWnd, {"CONFIG_B", "wnd"});
  ReadInt(x, d.cfgMes, {"CONFIG_B", "mes"});
  ReadInt(x, d.cfgFont, {"CONFIG_B", "font"});
  ReadInt(x, d.cfgSysv, {"CONFIG_B", "sysv"});
  ReadInt(x, d.cfgSysconfig, {"CONFIG_B", "sysconfig"});
  ReadInt(x, d.cfgAutoselect, {"CONFIG_B", "autoselect"});
  ReadInt(x, d.cfgSmpWndAlpha, {"CONFIG_B", "smp_wndalpha"});
  ReadInt(x, d.cfgWndAlpha, {"CONFIG_B", "wnd_alpha"});
  ReadInt(x, d.cfgView3d, {"CONFIG_B", "view3d"});

  ReadInt(x, d.enableDrag, {"GAME", "enabledrag"});
  ReadInt(x, d.strframeCount, {"GAME", "strframe_count"});
  ReadInt(x, d.strframeFrame, {"GAME", "strframe_frame"});
  ReadInt(x, d.autoframeCount, {"GAME", "autoframe_count"});
  ReadInt(x, d.dispFrame, {"GAME", "disp_frame"});
  ReadInt(x, d.enableFullSkip, {"GAME", "enablefullskip"});
  for (int i = 0; i < TQCONFIG_PRESETS; ++i) {
    std::string preset = Format("p%02d", i);
    ReadInt(x, d.presetBase[i], {"GAME", "autopriset", preset, "base"});
    ReadInt(x, d.presetChar[i], {"GAME", "autopriset", preset, "char"});
  }
  if (d.msgAutoPreset >= 0 && d.msgAutoPreset < TQCONFIG_PRESETS) {
    d.msgBase = d.presetBase[d.msgAutoPreset];
    d.msgChar = d.presetChar[d.msgAutoPreset];
  }
  for (int i = 0; i < TQCONFIG_SOUND_GROUPS; ++i) {
    std::string group = Format("group%02d", i);
    tqStartupSoundGroup& g = d.soundGroups[i];
    ReadInt(x, g.id, {"SOUNDGROUP", group, "id"});
    ReadText(x, g.type, {"SOUNDGROUP", group, "type"});
    ReadInt(x, g.min, {"SOUNDGROUP", group, "min"});
    ReadInt(x, g.max, {"SOUNDGROUP", group, "max"});
  }
  ReadText(x, d.sceneCurrent, {"SCENELIST", "convert", "current"});
  ReadText(x, d.sceneCommand, {"SCENELIST", "convert", "command"});
  ReadText(x, d.sceneParam, {"SCENELIST", "convert", "param"});

  ReadInt(x, d.logType, {"GAME", "log", "type"});
  ReadInt(x, d.logCol, {"GAME", "log", "col"});
  ReadInt(x, d.logProf, {"GAME", "log", "prof"});
  ReadInt(x, d.logNameLine, {"GAME", "log", "nameline"});
  ReadText(x, d.logNameFirst, {"GAME", "log", "nameformat", "first"});
  ReadText(x, d.logNameLast, {"GAME", "log", "nameformat", "last"});
  ReadInt(x, d.logIndent, {"GAME", "log", "indent"});
  ReadInt(x, d.logNameIndent, {"GAME", "log", "nameindent"});
  ReadInt(x, d.logDispMes, {"GAME", "log", "disp", "mes"});
  ReadInt(x, d.logDispName, {"GAME", "log", "disp", "name"});
  ReadInt(x, d.logSpace, {"GAME", "log", "space"});
  ReadInt(x, d.logEscape, {"GAME", "log", "escape"});
  ReadInt(x, d.logStatic, {"GAME", "log", "static"});
  ReadInt(x, d.logCrNext, {"GAME", "log", "cr_next"});
  ReadText(x, d.frameImage, {"SCREEN", "frameimg"});
  ReadInt(x, d.direct, {"APP", "direct"});
  ReadInt(x, d.flagMax, {"GAME", "flag", "max"});
  for (int i = 0; i < TQCONFIG_FLAG_RANGES; ++i) {
    std::string local = Format("local%d", i), global = Format("global%d", i);
    ReadInt(x, d.flagLocal[i].start, {"GAME", "flag", local, "start"});
    ReadInt(x, d.flagLocal[i].count, {"GAME", "flag", local, "count"});
    ReadInt(x, d.flagGlobal[i].start, {"GAME", "flag", global, "start"});
    ReadInt(x, d.flagGlobal[i].count, {"GAME", "flag", global, "count"});
  }
  ReadInt(x, d.usePs, {"APP", "use_ps"});
  ReadInt(x, d.touch, {"APP", "touch"});
  ReadInt(x, d.renderAlways, {"APP", "render_always"});

  // Replacements, until the first entry that lacks find or rep.
  replacements_.clear();
  for (int i = 0;; ++i) {
    std::string entry = Format("r%02d", i);
    std::string find, rep;
    if (!x.GetStrPath(find, "", {"SCRIPT", "replace", entry, "find"})) break;
    if (!x.GetStrPath(rep, "", {"SCRIPT", "replace", entry, "rep"})) break;
    replacements_.emplace(std::move(find), std::move(rep));
  }
  ReadInt(x, d.tweet, {"APP", "tweet"});

  // ---- defaults of the user settings
  ReadInt(x, d.wndScreensaver, {"GENERAL", "screensaver"});
  ReadInt(x, d.wndCamouflage, {"GENERAL", "camouflage"});
  ReadInt(x, d.wndWidth, {"SCREEN", "width"});
  ReadInt(x, d.wndHeight, {"SCREEN", "height"});
  d.fullWidth = x.GetInt(d.wndWidth, 2, "SCREEN", "full_width");
  d.fullHeight = x.GetInt(d.wndHeight, 2, "SCREEN", "full_height");
  MatchFullScreen(Display(), &d.fullWidth, &d.fullHeight);
  ReadInt(x, d.wndLimit, {"SCREEN", "limit"});
  ReadInt(x, d.wndFps, {"SCREEN", "fps"});
  ReadInt(x, d.fullSize, {"SCREEN", "full_size"});
  ReadInt(x, d.fullPos, {"SCREEN", "full_pos"});
  ReadInt(x, d.mwPos, {"SCREEN", "mw_pos"});
  ReadInt(x, d.wall, {"SCREEN", "wall"});
  ReadInt(x, d.noFullRes, {"SCREEN", "no_full_res"});
  ReadInt(x, d.etcCache, {"ETC", "cache"});
  ReadInt(x, d.etcDragWnd, {"ETC", "dragwnd"});
  ReadInt(x, d.texBpp, {"TEXTURE", "bpp"});
  ReadInt(x, d.texMin, {"TEXTURE", "filter_min"});
  ReadInt(x, d.texMag, {"TEXTURE", "filter_mag"});
  ReadInt(x, d.texDither, {"TEXTURE", "dither"});
  ReadInt(x, d.sndDs3d, {"SOUND", "use3d"});
  ReadInt(x, d.sndSticky, {"SOUND", "sticky"});
  ReadInt(x, d.etcImgcache, {"APP", "imgcache"});
  ReadInt(x, d.etcDualcore, {"APP", "dualcore"});
  ReadText(x, d.cdPath, {"APP", "cdpath"});
  ReadInt(x, d.wndMenu, {"APP", "wndmenu"});
  ReadInt(x, d.wndCursorMode, {"CURSOR", "mode"});
  for (int i = 0; i < TQCONFIG_FONTS; ++i) {
    std::string font = Format("f%02d", i);
    ReadText(x, d.fonts[i].face, {"FONT", font, "face"});
    ReadText(x, d.fonts[i].faceRuby, {"FONT", font, "faceruby"});
  }
  // The face in use starts as the first of the table.
  memcpy(d.fontFace, d.fonts[0].face, sizeof d.fontFace);
  memcpy(d.fontFaceRuby, d.fonts[0].faceRuby, sizeof d.fontFaceRuby);
  ReadInt(x, d.fontShadowRightDown, {"FONT", "shadow", "rightdown"});
  ReadInt(x, d.fontShadowAround, {"FONT", "shadow", "around"});
  ReadKeyBindings(x);
  ReadText(x, d.soundConfig, {"SOUNDCONFIG"});
  for (int i = 0; i < TQCONFIG_VOICES; ++i) {
    std::string v = Format("v%02d", i);
    tqVoiceEntry& e = d.voices[i];
    ReadText(x, e.voice, {"VOICE", v, "voice"});
    ReadInt(x, e.masterVolume, {"VOICE", v, "mastervol"});
    ReadText(x, e.head, {"VOICE", v, "head"});
    ReadInt(x, e.group, {"VOICE", v, "group"});
    ReadText(x, e.folder, {"VOICE", v, "int"});
    tqToLower(e.folder);
  }
  ReadInt(x, d.volBgm, {"VOICE", "vol", "bgm"});
  ReadInt(x, d.volPlay, {"VOICE", "vol", "play"});
  ReadInt(x, d.volSe, {"VOICE", "vol", "se"});
  ReadInt(x, d.volVoice, {"VOICE", "vol", "voice"});
  ReadInt(x, d.volMaster, {"VOICE", "vol", "master"});
  int32_t r = x.GetInt(kWndRed, 3, "GAME", "wndcolor", "r");
  int32_t g = x.GetInt(kWndGreen, 3, "GAME", "wndcolor", "g");
  int32_t b = x.GetInt(kWndBlue, 3, "GAME", "wndcolor", "b");
  int32_t a = x.GetInt(kWndAlpha, 3, "GAME", "wndcolor", "a");
  d.wndColor = PackColour(r, g, b, a, d.cfgWndAlpha != 0);
  for (int i = 0; i < TQCONFIG_SYSTEM_VOICES; ++i) {
    std::string ch = Format("ch%02d", i);
    tqSystemVoiceEntry& e = d.systemVoices[i];
    ReadText(x, e.name, {"SYSTEMVOICE", ch, "name"});
    ReadInt(x, e.play, {"SYSTEMVOICE", ch, "play"});
    ReadText(x, e.folder, {"SYSTEMVOICE", ch, "int"});
  }
  ReadInt(x, d.readColor, {"GAME", "read", "color"});
  ReadInt(x, d.enableRead, {"GAME", "read", "enable"});
  ReadInt(x, d.skipSpeed, {"GAME", "skipspeed"});
  ReadInt(x, d.msgLogLimit, {"GAME", "log", "limit"});
  ReadInt(x, d.wipe, {"GAME", "string", "wipe"});
  ReadInt(x, d.ctrlMode, {"GAME", "ctrlmode"});
  ReadInt(x, d.autoLeft, {"GAME", "autoleft"});
  ReadInt(x, d.enableReadSel, {"GAME", "readsel", "enable"});
  ReadInt(x, d.autoSelect, {"GAME", "autoselect"});
}

void tqConfig::ReadKeyBindings(tqXml& x) {
  static const char* const kKinds[8] = {"keyboard",     "mouse",     "joypad",     "touch",
                                        "rep_keyboard", "rep_mouse", "rep_joypad", "rep_touch"};
  for (int i = 0; i < TQCONFIG_KEYS; ++i) {
    std::string key = Format("key%02d", i);
    tqKeyEntry& e = data_.keys[i];
    ReadText(x, e.name, {"KEYCUSTOMIZE", key, "name"});
    uint8_t* slots[8] = {e.keyboard,    e.mouse,    e.joypad,    e.touch,
                         e.repKeyboard, e.repMouse, e.repJoypad, e.repTouch};
    for (int k = 0; k < 8; ++k) {
      for (int s = 0; s < 4; ++s) {
        std::string name = std::string(kKinds[k]) + (char)('1' + s);
        slots[k][s] = (uint8_t)x.GetIntPath(slots[k][s], {"KEYCUSTOMIZE", key, name});
      }
    }
  }
}
