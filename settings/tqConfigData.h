// The engine's settings block: one plain record of fixed layout holding every
// setting read at start and every value the player may change. A running
// engine hands the whole block to its configuration tool over DDE, so its size
// and the offsets below are part of that exchange and never move.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t TQCONFIG_DATA_SIZE = 67372;
constexpr int TQCONFIG_FOLDERS = 128;
constexpr int TQCONFIG_KEYS = 80;
constexpr int TQCONFIG_VOICES = 48;
constexpr int TQCONFIG_SYSTEM_VOICES = 48;
constexpr int TQCONFIG_FONTS = 8;
constexpr int TQCONFIG_PRESETS = 32;
constexpr int TQCONFIG_SOUND_GROUPS = 8;
constexpr int TQCONFIG_NEEDS = 64;
constexpr int TQCONFIG_TEXTURE_AREAS = 8;
constexpr int TQCONFIG_SCREEN_SIZES = 5;
constexpr int TQCONFIG_FLAG_RANGES = 8;

// One entry of the folder table (INT/intNN of the start-up definition).
struct tqFolderDefinition {
  char key[32];    // INT/intNN/int: the key names ask for
  char ext[8];     // default extension, without the dot
  char path[260];  // folder, relative to the game or absolute
  char name[32];   // display name
};
static_assert(sizeof(tqFolderDefinition) == 332);

// A selectable screen size (SCREEN/list/typeN).
struct tqScreenSize {
  int32_t w, h;
};

// A texture area (TEXTURE/areaNN).
struct tqTextureArea {
  int32_t sx, sy, dx, dy;
};

// A sound group of the start-up definition (SOUNDGROUP/groupNN); defined when
// its id is not -1.
struct tqStartupSoundGroup {
  int32_t id;
  char type[32];
  int32_t min, max;
};
static_assert(sizeof(tqStartupSoundGroup) == 44);

// One flag range (GAME/flag/localN, globalN); -1 when unused.
struct tqFlagRange {
  int32_t start, count;
};

struct tqFontEntry {
  char face[32];
  char faceRuby[32];
};

// One customisable key (KEYCUSTOMIZE/keyNN); defined when its name is not
// empty. Four binding slots each for keyboard, mouse, joypad and touch, and
// the same for repeated presses. A binding is a key or button code: the files
// carry numbers, of which the low byte is kept.
struct tqKeyEntry {
  char name[32];
  uint8_t keyboard[4], mouse[4], joypad[4], touch[4];
  uint8_t repKeyboard[4], repMouse[4], repJoypad[4], repTouch[4];
};
static_assert(sizeof(tqKeyEntry) == 64);

// A voice channel (VOICE/vNN).
struct tqVoiceEntry {
  char voice[32];
  int32_t masterVolume;
  char head[32];
  int32_t group;
  char folder[32];  // the int key, stored in lower case
};
static_assert(sizeof(tqVoiceEntry) == 104);

// A system voice channel (SYSTEMVOICE/chNN).
struct tqSystemVoiceEntry {
  char name[32];
  int32_t play;
  char folder[32];
};
static_assert(sizeof(tqSystemVoiceEntry) == 68);

struct tqConfigData {
  // ------------------------------------------------ identity (VERSION, APP)
  int32_t iniVersion;    // VERSION/ini
  int32_t versionMajor;  // VERSION/major
  int32_t versionMinor;  // VERSION/minor
  int32_t heap;          // ETC/heap
  char brand[260];       // APP/brand, the macro %brand%
  char title[260];       // APP/title, the macro %title%
  char mutex[260];       // APP/mutex
  char mutexConfig[260]; // APP/mutex_cfg
  char versionCode[32];  // APP/v_code
  char url[260];         // WEB/url
  char icon[260];        // APP/icon
  int32_t iconNo;        // APP/iconno
  char banner[260];      // APP/banner
  char cdid[64];         // APP/cdid
  int32_t direct;        // APP/direct
  int32_t usePs;         // APP/use_ps
  int32_t touch;         // APP/touch
  int32_t renderAlways;  // APP/render_always
  int32_t tweet;         // APP/tweet

  // ------------------------------------------------ screen
  int32_t virtualWidth, virtualHeight;  // SCREEN/v_width, v_height
  tqScreenSize screenList[TQCONFIG_SCREEN_SIZES];
  int32_t noSkip;                       // SCREEN/no_skip
  char frameImage[260];                 // SCREEN/frameimg

  // ------------------------------------------------ script, cursor
  char startScript[260];  // SCRIPT/start
  int32_t cursorType;     // CURSOR/type
  char cursorDefault[260];
  int32_t cursorHotX, cursorHotY;

  // ------------------------------------------------ folders
  char saveFolder[260];     // FOLDER/save, macros expanded: %save%
  char imglibFolder[260];   // FOLDER/imglib, macros expanded: %imglib%
  char defaultFolder[260];  // FOLDER/default
  char manualPath[260];     // MANUAL/path
  int32_t manualPresent;    // whether that file exists

  // ------------------------------------------------ system information report
  char infoFile[260];
  char infoComment[512];

  // ------------------------------------------------ texture and shader limits
  int32_t textureSizeX, textureSizeY, textureVtX, textureVtY;
  tqTextureArea textureArea[TQCONFIG_TEXTURE_AREAS];
  int32_t bpp32y, bpp16y;
  int32_t vertexShaderMax, vertexShaderMin, pixelShaderMax, pixelShaderMin;
  int32_t need[TQCONFIG_NEEDS];  // INT/needNN

  tqFolderDefinition folders[TQCONFIG_FOLDERS];  // INT/intNN

  // ------------------------------------------------ CONFIG_B switches
  int32_t cfgMode, cfgKey, cfgSnd, cfgEff, cfgWnd, cfgMes, cfgFont, cfgSysv;
  int32_t cfgSysconfig, cfgAutoselect, cfgSmpWndAlpha, cfgWndAlpha, cfgView3d;

  // ------------------------------------------------ GAME
  int32_t enableDrag;  // GAME/enabledrag, also a game setting
  int32_t strframeCount, strframeFrame, autoframeCount, dispFrame, enableFullSkip;
  int32_t presetBase[TQCONFIG_PRESETS];  // GAME/autopriset/pNN/base
  int32_t presetChar[TQCONFIG_PRESETS];  // GAME/autopriset/pNN/char
  tqStartupSoundGroup soundGroups[TQCONFIG_SOUND_GROUPS];
  char sceneCurrent[260], sceneCommand[260], sceneParam[260];  // SCENELIST/convert

  // text log (GAME/log)
  int32_t logType, logCol, logProf, logNameLine;
  char logNameFirst[32], logNameLast[32];
  int32_t logIndent, logNameIndent, logDispMes, logDispName;
  int32_t logSpace, logEscape, logStatic, logCrNext;

  // flag ranges (GAME/flag)
  int32_t flagMax;
  tqFlagRange flagLocal[TQCONFIG_FLAG_RANGES];
  tqFlagRange flagGlobal[TQCONFIG_FLAG_RANGES];

  // ================================================ user settings
  // Defaults come from the start-up definition, then the game defaults file,
  // then the player's setup file.

  // ------------------------------------------------ system group
  int32_t wndWidth, wndHeight, fullWidth, fullHeight;
  int32_t wndFps, wndMode, wndBpp, wndLimit, wndFullscreen, wndSetmode, wndCursorMode;
  int32_t wndScreensaver, wndCamouflage, wndOutInfo, wndFullWide;
  int32_t texBpp, texMin, texMag, texDither;
  int32_t sndDs3d, sndSticky, sndStereo;
  int32_t etcImgcache, etcDualcore, etcDisableMovie, etcDisablePixelShader, etcWaitD3dCommand;
  char etcPicture[260], etcExport[260], etcImgImport[260];
  int32_t etcCache;    // ETC/cache; also the file server's preload switch
  int32_t etcDragWnd;  // ETC/dragwnd
  char cdPath[260];    // APP/cdpath
  int32_t wndMenu;     // APP/wndmenu
  int32_t gdiCap;      // DEPEND/gdi_cap
  int32_t d3dBackbuffer, d3dHardTnL, d3dLight, d3dVsync, d3dAntialias, d3dFogtype, d3dTexSize,
      d3dTexComp;
  int32_t fullSize, fullPos, mwPos, wall, noFullRes;  // FULL_SCREEN

  // ------------------------------------------------ configuration group
  int32_t configType;  // CONFIG/type
  tqFontEntry fonts[TQCONFIG_FONTS];  // FONT/fNN
  char fontFace[32], fontFaceRuby[32];  // the face in use
  int32_t fontShadowRightDown, fontShadowAround, fontBold, fontProportional, fontFixed;
  int32_t enableJoypad;  // KEY/enable_joypad
  tqKeyEntry keys[TQCONFIG_KEYS];

  // ------------------------------------------------ game group
  int32_t volBgm, volSe, volVoice, volPlay, volMaster;
  int32_t voicePlay[TQCONFIG_VOICES];  // VOICE/playNN
  int32_t contVoice, muteMaster, muteBgm, muteSe, muteVoice, mutePlay;
  int32_t msgSpeed, msgAutoPreset, msgBase, msgChar, msgInd, msgCont, msgStill, msgWaitPcm,
      msgSkipFull, msgLogLimit;
  int32_t effSpeed, effHelp, effAutoC, effAutoCd, effAutoCds, effDramatic, effSkipDraw, effSkipMot;
  uint32_t wndColor;  // GAME/wndcolor: alpha << 24 | red << 16 | green << 8 | blue
  int32_t drawWnd;    // GAME/drawwnd
  int32_t enableRead, readColor, skipSpeed, contSkip, wipe, ctrlMode, autoLeft, enableReadSel;
  int32_t autoSelect, alwaysActive;

  tqVoiceEntry voices[TQCONFIG_VOICES];
  tqSystemVoiceEntry systemVoices[TQCONFIG_SYSTEM_VOICES];  // their play is SYSTEMVOICE/playNN
  char soundConfig[260];  // SOUNDCONFIG: the sound definition file

  // effective volumes: master volume x channel volume / 100
  int32_t effVolBgm, effVolSe, effVolVoice, effVolPlay;

  // Room for settings of later engines; zero.
  uint8_t reserved[2300];
};

static_assert(sizeof(tqConfigData) == TQCONFIG_DATA_SIZE, "the settings block is 67372 bytes");
static_assert(alignof(tqConfigData) == 4, "no member may change the packing");
// Offsets that a peer process reads out of a block it received.
static_assert(offsetof(tqConfigData, iniVersion) == 0);
static_assert(offsetof(tqConfigData, versionMajor) == 4);
static_assert(offsetof(tqConfigData, versionMinor) == 8);
static_assert(offsetof(tqConfigData, brand) == 16);
static_assert(offsetof(tqConfigData, title) == 276);
static_assert(offsetof(tqConfigData, saveFolder) == 2800);
static_assert(offsetof(tqConfigData, imglibFolder) == 3060);
static_assert(offsetof(tqConfigData, folders) == 5040);
static_assert(offsetof(tqConfigData, cfgMode) == 47536);
static_assert(offsetof(tqConfigData, wndWidth) == 49244);
static_assert(offsetof(tqConfigData, etcCache) == 50132);
static_assert(offsetof(tqConfigData, configType) == 50460);
static_assert(offsetof(tqConfigData, keys) == 51064);
static_assert(offsetof(tqConfigData, volBgm) == 56184);
static_assert(offsetof(tqConfigData, voices) == 56540);
static_assert(offsetof(tqConfigData, systemVoices) == 61532);
static_assert(offsetof(tqConfigData, soundConfig) == 64796);
static_assert(offsetof(tqConfigData, effVolBgm) == 65056);
static_assert(offsetof(tqConfigData, reserved) == 65072);
