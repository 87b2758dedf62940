// The field list of the settings block, in layout order, named after the
// keys the values come from.
#include "settings/tqConfigFields.h"

#include <cstdio>
#include <cstring>

namespace {

class Builder {
 public:
  explicit Builder(std::vector<tqConfigField>& out) : out_(out) {}
  void Int(const std::string& name, size_t offset) {
    out_.push_back({name, tqConfigField::INT, offset, 4});
  }
  void Colour(const std::string& name, size_t offset) {
    out_.push_back({name, tqConfigField::COLOUR, offset, 4});
  }
  void Text(const std::string& name, size_t offset, size_t size) {
    out_.push_back({name, tqConfigField::TEXT, offset, size});
  }
  void Byte(const std::string& name, size_t offset) {
    out_.push_back({name, tqConfigField::BYTE, offset, 1});
  }

 private:
  std::vector<tqConfigField>& out_;
};

std::string F(const char* format, int a) {
  char text[96];
  snprintf(text, sizeof text, format, a);
  return text;
}

#define OFF(field) offsetof(tqConfigData, field)
#define FI(name, field) b.Int(name, OFF(field))
#define FT(name, field) b.Text(name, OFF(field), sizeof(tqConfigData::field))

std::vector<tqConfigField> Build() {
  std::vector<tqConfigField> out;
  Builder b(out);
  FI("VERSION/ini", iniVersion);
  FI("VERSION/major", versionMajor);
  FI("VERSION/minor", versionMinor);
  FI("ETC/heap", heap);
  FT("APP/brand", brand);
  FT("APP/title", title);
  FT("APP/mutex", mutex);
  FT("APP/mutex_cfg", mutexConfig);
  FT("APP/v_code", versionCode);
  FT("WEB/url", url);
  FT("APP/icon", icon);
  FI("APP/iconno", iconNo);
  FT("APP/banner", banner);
  FT("APP/cdid", cdid);
  FI("APP/direct", direct);
  FI("APP/use_ps", usePs);
  FI("APP/touch", touch);
  FI("APP/render_always", renderAlways);
  FI("APP/tweet", tweet);
  FI("SCREEN/v_width", virtualWidth);
  FI("SCREEN/v_height", virtualHeight);
  for (int i = 0; i < TQCONFIG_SCREEN_SIZES; ++i) {
    size_t at = OFF(screenList) + i * sizeof(tqScreenSize);
    b.Int(F("SCREEN/list/type%d/w", i), at);
    b.Int(F("SCREEN/list/type%d/h", i), at + 4);
  }
  FI("SCREEN/no_skip", noSkip);
  FT("SCREEN/frameimg", frameImage);
  FT("SCRIPT/start", startScript);
  FI("CURSOR/type", cursorType);
  FT("CURSOR/default", cursorDefault);
  FI("CURSOR/hx", cursorHotX);
  FI("CURSOR/hy", cursorHotY);
  FT("FOLDER/save", saveFolder);
  FT("FOLDER/imglib", imglibFolder);
  FT("FOLDER/default", defaultFolder);
  FT("MANUAL/path", manualPath);
  FI("MANUAL/present", manualPresent);
  FT("INFO/file", infoFile);
  FT("INFO/comment", infoComment);
  FI("TEXTURE/size/x", textureSizeX);
  FI("TEXTURE/size/y", textureSizeY);
  FI("TEXTURE/vt/x", textureVtX);
  FI("TEXTURE/vt/y", textureVtY);
  for (int i = 0; i < TQCONFIG_TEXTURE_AREAS; ++i) {
    size_t at = OFF(textureArea) + i * sizeof(tqTextureArea);
    b.Int(F("TEXTURE/area%02d/sx", i), at);
    b.Int(F("TEXTURE/area%02d/sy", i), at + 4);
    b.Int(F("TEXTURE/area%02d/dx", i), at + 8);
    b.Int(F("TEXTURE/area%02d/dy", i), at + 12);
  }
  FI("TEXTURE/bpp32y", bpp32y);
  FI("TEXTURE/bpp16y", bpp16y);
  FI("SHADER/VERTEX_MA", vertexShaderMax);
  FI("SHADER/VERTEX_MI", vertexShaderMin);
  FI("SHADER/PIXEL_MA", pixelShaderMax);
  FI("SHADER/PIXEL_MI", pixelShaderMin);
  for (int i = 0; i < TQCONFIG_NEEDS; ++i) b.Int(F("INT/need%02d", i), OFF(need) + i * 4);
  for (int i = 0; i < TQCONFIG_FOLDERS; ++i) {
    size_t at = OFF(folders) + i * sizeof(tqFolderDefinition);
    b.Text(F("INT/int%02d/int", i), at + offsetof(tqFolderDefinition, key), 32);
    b.Text(F("INT/int%02d/ext", i), at + offsetof(tqFolderDefinition, ext), 8);
    b.Text(F("INT/int%02d/dir", i), at + offsetof(tqFolderDefinition, path), 260);
    b.Text(F("INT/int%02d/name", i), at + offsetof(tqFolderDefinition, name), 32);
  }
  FI("CONFIG_B/mode", cfgMode);
  FI("CONFIG_B/key", cfgKey);
  FI("CONFIG_B/snd", cfgSnd);
  FI("CONFIG_B/eff", cfgEff);
  FI("CONFIG_B/wnd", cfgWnd);
  FI("CONFIG_B/mes", cfgMes);
  FI("CONFIG_B/font", cfgFont);
  FI("CONFIG_B/sysv", cfgSysv);
  FI("CONFIG_B/sysconfig", cfgSysconfig);
  FI("CONFIG_B/autoselect", cfgAutoselect);
  FI("CONFIG_B/smp_wndalpha", cfgSmpWndAlpha);
  FI("CONFIG_B/wnd_alpha", cfgWndAlpha);
  FI("CONFIG_B/view3d", cfgView3d);
  FI("GAME/enabledrag", enableDrag);
  FI("GAME/strframe_count", strframeCount);
  FI("GAME/strframe_frame", strframeFrame);
  FI("GAME/autoframe_count", autoframeCount);
  FI("GAME/disp_frame", dispFrame);
  FI("GAME/enablefullskip", enableFullSkip);
  for (int i = 0; i < TQCONFIG_PRESETS; ++i)
    b.Int(F("GAME/autopriset/p%02d/base", i), OFF(presetBase) + i * 4);
  for (int i = 0; i < TQCONFIG_PRESETS; ++i)
    b.Int(F("GAME/autopriset/p%02d/char", i), OFF(presetChar) + i * 4);
  for (int i = 0; i < TQCONFIG_SOUND_GROUPS; ++i) {
    size_t at = OFF(soundGroups) + i * sizeof(tqStartupSoundGroup);
    b.Int(F("SOUNDGROUP/group%02d/id", i), at + offsetof(tqStartupSoundGroup, id));
    b.Text(F("SOUNDGROUP/group%02d/type", i), at + offsetof(tqStartupSoundGroup, type), 32);
    b.Int(F("SOUNDGROUP/group%02d/min", i), at + offsetof(tqStartupSoundGroup, min));
    b.Int(F("SOUNDGROUP/group%02d/max", i), at + offsetof(tqStartupSoundGroup, max));
  }
  FT("SCENELIST/convert/current", sceneCurrent);
  FT("SCENELIST/convert/command", sceneCommand);
  FT("SCENELIST/convert/param", sceneParam);
  FI("GAME/log/type", logType);
  FI("GAME/log/col", logCol);
  FI("GAME/log/prof", logProf);
  FI("GAME/log/nameline", logNameLine);
  FT("GAME/log/nameformat/first", logNameFirst);
  FT("GAME/log/nameformat/last", logNameLast);
  FI("GAME/log/indent", logIndent);
  FI("GAME/log/nameindent", logNameIndent);
  FI("GAME/log/disp/mes", logDispMes);
  FI("GAME/log/disp/name", logDispName);
  FI("GAME/log/space", logSpace);
  FI("GAME/log/escape", logEscape);
  FI("GAME/log/static", logStatic);
  FI("GAME/log/cr_next", logCrNext);
  FI("GAME/flag/max", flagMax);
  for (int i = 0; i < TQCONFIG_FLAG_RANGES; ++i) {
    b.Int(F("GAME/flag/local%d/start", i), OFF(flagLocal) + i * 8);
    b.Int(F("GAME/flag/local%d/count", i), OFF(flagLocal) + i * 8 + 4);
  }
  for (int i = 0; i < TQCONFIG_FLAG_RANGES; ++i) {
    b.Int(F("GAME/flag/global%d/start", i), OFF(flagGlobal) + i * 8);
    b.Int(F("GAME/flag/global%d/count", i), OFF(flagGlobal) + i * 8 + 4);
  }

  // User settings, under the keys of the setup file.
  FI("WINDOW/width", wndWidth);
  FI("WINDOW/height", wndHeight);
  FI("WINDOW/full_width", fullWidth);
  FI("WINDOW/full_height", fullHeight);
  FI("WINDOW/fps", wndFps);
  FI("WINDOW/mode", wndMode);
  FI("WINDOW/bpp", wndBpp);
  FI("WINDOW/limit", wndLimit);
  FI("WINDOW/fullscreen", wndFullscreen);
  FI("WINDOW/setmode", wndSetmode);
  FI("WINDOW/cursor_mode", wndCursorMode);
  FI("WINDOW/screensaver", wndScreensaver);
  FI("WINDOW/camouflage", wndCamouflage);
  FI("WINDOW/out_info", wndOutInfo);
  FI("WINDOW/full_wide", wndFullWide);
  FI("TEXTURE/bpp", texBpp);
  FI("TEXTURE/min", texMin);
  FI("TEXTURE/mag", texMag);
  FI("TEXTURE/dither", texDither);
  FI("SOUND/ds3d", sndDs3d);
  FI("SOUND/sticky", sndSticky);
  FI("SOUND/stereo", sndStereo);
  FI("ETC/imgcache", etcImgcache);
  FI("ETC/dualcore", etcDualcore);
  FI("ETC/disablemovie", etcDisableMovie);
  FI("ETC/disablepixelshader", etcDisablePixelShader);
  FI("ETC/waitd3dcommand", etcWaitD3dCommand);
  FT("ETC/picture", etcPicture);
  FT("ETC/export", etcExport);
  FT("ETC/imgimport", etcImgImport);
  FI("ETC/cache", etcCache);
  FI("ETC/dragwnd", etcDragWnd);
  FT("APP/cdpath", cdPath);
  FI("APP/wndmenu", wndMenu);
  FI("DEPEND/gdi_cap", gdiCap);
  FI("D3D/backbuffer", d3dBackbuffer);
  FI("D3D/hardTnL", d3dHardTnL);
  FI("D3D/light", d3dLight);
  FI("D3D/vsync", d3dVsync);
  FI("D3D/antialias", d3dAntialias);
  FI("D3D/fogtype", d3dFogtype);
  FI("D3D/tex_size", d3dTexSize);
  FI("D3D/tex_comp", d3dTexComp);
  FI("FULL_SCREEN/full_size", fullSize);
  FI("FULL_SCREEN/full_pos", fullPos);
  FI("FULL_SCREEN/mw_pos", mwPos);
  FI("FULL_SCREEN/wall", wall);
  FI("FULL_SCREEN/no_full_res", noFullRes);
  FI("CONFIG/type", configType);
  for (int i = 0; i < TQCONFIG_FONTS; ++i) {
    size_t at = OFF(fonts) + i * sizeof(tqFontEntry);
    b.Text(F("FONT/f%02d/face", i), at, 32);
    b.Text(F("FONT/f%02d/faceruby", i), at + 32, 32);
  }
  FT("FONT/face", fontFace);
  FT("FONT/faceruby", fontFaceRuby);
  FI("FONT/shadow/rightdown", fontShadowRightDown);
  FI("FONT/shadow/around", fontShadowAround);
  FI("FONT/bold", fontBold);
  FI("FONT/proportional", fontProportional);
  FI("FONT/fixed", fontFixed);
  FI("KEY/enable_joypad", enableJoypad);
  static const char* const kKinds[8] = {"keyboard",     "mouse",     "joypad",     "touch",
                                        "rep_keyboard", "rep_mouse", "rep_joypad", "rep_touch"};
  for (int i = 0; i < TQCONFIG_KEYS; ++i) {
    size_t at = OFF(keys) + i * sizeof(tqKeyEntry);
    b.Text(F("KEYCUSTOMIZE/key%02d/name", i), at, 32);
    for (int k = 0; k < 8; ++k)
      for (int s = 0; s < 4; ++s)
        b.Byte(F("KEYCUSTOMIZE/key%02d/", i) + kKinds[k] + (char)('1' + s), at + 32 + k * 4 + s);
  }
  FI("VOICE/vol_bgm", volBgm);
  FI("VOICE/vol_se", volSe);
  FI("VOICE/vol_voice", volVoice);
  FI("VOICE/vol_play", volPlay);
  FI("VOICE/vol_master", volMaster);
  for (int i = 0; i < TQCONFIG_VOICES; ++i) b.Int(F("VOICE/play%02d", i), OFF(voicePlay) + i * 4);
  FI("VOICE/cont_voice", contVoice);
  FI("VOICE/mute_master", muteMaster);
  FI("VOICE/mute_bgm", muteBgm);
  FI("VOICE/mute_se", muteSe);
  FI("VOICE/mute_voice", muteVoice);
  FI("VOICE/mute_play", mutePlay);
  FI("MESSAGE/speed", msgSpeed);
  FI("MESSAGE/auto_p", msgAutoPreset);
  FI("MESSAGE/base", msgBase);
  FI("MESSAGE/CHAR", msgChar);
  FI("MESSAGE/ind", msgInd);
  FI("MESSAGE/cont", msgCont);
  FI("MESSAGE/still", msgStill);
  FI("MESSAGE/waitpcm", msgWaitPcm);
  FI("MESSAGE/skip_full", msgSkipFull);
  FI("MESSAGE/log_limit", msgLogLimit);
  FI("EFFECT/speed", effSpeed);
  FI("EFFECT/help", effHelp);
  FI("EFFECT/auto_c", effAutoC);
  FI("EFFECT/auto_cd", effAutoCd);
  FI("EFFECT/auto_cds", effAutoCds);
  FI("EFFECT/dramatic", effDramatic);
  FI("EFFECT/skipdraw", effSkipDraw);
  FI("EFFECT/skipmot", effSkipMot);
  b.Colour("GAME/wndcolor", OFF(wndColor));
  FI("GAME/drawwnd", drawWnd);
  FI("MESSAGE/enable_read", enableRead);
  FI("MESSAGE/read_color", readColor);
  FI("MESSAGE/skipspeed", skipSpeed);
  FI("MESSAGE/contskip", contSkip);
  FI("MESSAGE/wipe", wipe);
  FI("MESSAGE/ctrlmode", ctrlMode);
  FI("MESSAGE/autoleft", autoLeft);
  FI("MESSAGE/enable_read_sel", enableReadSel);
  FI("GAME/autoselect", autoSelect);
  FI("GAME/always_active", alwaysActive);
  for (int i = 0; i < TQCONFIG_VOICES; ++i) {
    size_t at = OFF(voices) + i * sizeof(tqVoiceEntry);
    b.Text(F("VOICE/v%02d/voice", i), at + offsetof(tqVoiceEntry, voice), 32);
    b.Int(F("VOICE/v%02d/mastervol", i), at + offsetof(tqVoiceEntry, masterVolume));
    b.Text(F("VOICE/v%02d/head", i), at + offsetof(tqVoiceEntry, head), 32);
    b.Int(F("VOICE/v%02d/group", i), at + offsetof(tqVoiceEntry, group));
    b.Text(F("VOICE/v%02d/int", i), at + offsetof(tqVoiceEntry, folder), 32);
  }
  for (int i = 0; i < TQCONFIG_SYSTEM_VOICES; ++i) {
    size_t at = OFF(systemVoices) + i * sizeof(tqSystemVoiceEntry);
    b.Text(F("SYSTEMVOICE/ch%02d/name", i), at + offsetof(tqSystemVoiceEntry, name), 32);
    b.Int(F("SYSTEMVOICE/ch%02d/play", i), at + offsetof(tqSystemVoiceEntry, play));
    b.Text(F("SYSTEMVOICE/ch%02d/int", i), at + offsetof(tqSystemVoiceEntry, folder), 32);
  }
  FT("SOUNDCONFIG", soundConfig);
  FI("EFFECTIVE/bgm", effVolBgm);
  FI("EFFECTIVE/se", effVolSe);
  FI("EFFECTIVE/voice", effVolVoice);
  FI("EFFECTIVE/play", effVolPlay);
  return out;
}

#undef OFF
#undef FI
#undef FT

}  // namespace

const std::vector<tqConfigField>& tqConfigFields() {
  static const std::vector<tqConfigField> fields = Build();
  return fields;
}

std::string tqConfigFieldValue(const tqConfigData& data, const tqConfigField& field) {
  const char* base = reinterpret_cast<const char*>(&data) + field.offset;
  char text[32];
  switch (field.kind) {
    case tqConfigField::INT: {
      int32_t v;
      memcpy(&v, base, 4);
      snprintf(text, sizeof text, "%d", (int)v);
      return text;
    }
    case tqConfigField::COLOUR: {
      uint32_t v;
      memcpy(&v, base, 4);
      snprintf(text, sizeof text, "0x%08X", (unsigned)v);
      return text;
    }
    case tqConfigField::BYTE:
      snprintf(text, sizeof text, "%u", (unsigned)(uint8_t)*base);
      return text;
    case tqConfigField::TEXT: {
      const void* end = memchr(base, 0, field.size);
      return std::string(base, end ? (size_t)(static_cast<const char*>(end) - base) : field.size);
    }
  }
  return {};
}
