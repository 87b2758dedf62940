// Sound groups and the sound part tree: the definition file in the folder
// "config", inheritance from parent to child part, and the player's values
// from the file of the same name in the save folder.
#include <algorithm>
#include <cstring>
#include <set>

#include "file/tqFile.h"
#include "file/tqFileServer.h"
#include "settings/tqConfig.h"
#include "settings/tqConfigInternal.h"
#include "util/tqUtil.h"
#include "xml/tqXml.h"

using namespace tqconfig;

namespace {

// Parts nested deeper than this are not read: a hostile file must not run
// the reader out of stack.
constexpr int kMaxDepth = 32;

// Names of an element's children in document order (the iterator walks
// them last first).
std::vector<std::string> ChildNames(tqXml& x, const Names& path) {
  std::vector<std::string> names;
  tqXmlChildIterator it;
  if (!x.GetChildrenPath(&it, path)) return names;
  std::string name;
  while (x.NextChild(&it, name)) names.push_back(name);
  std::reverse(names.begin(), names.end());
  return names;
}

Names With(const Names& path, const std::string& a) {
  Names out = path;
  out.push_back(a);
  return out;
}

Names With(const Names& path, const std::string& a, const std::string& b) {
  Names out = With(path, a);
  out.push_back(b);
  return out;
}

void ReadString(tqXml& x, std::string& value, const Names& path) {
  std::string def = value;
  x.GetStrPath(value, def.c_str(), path);
}

void Inherit(SoundPart& child, const SoundPart& parent) {
  if (child.head.empty()) child.head = parent.head;
  if (child.group == -1) child.group = parent.group;
  if (child.folder.empty()) child.folder = parent.folder;
  int32_t SoundPart::*const kNumbers[] = {&SoundPart::masterVolume, &SoundPart::volume,
                                          &SoundPart::play,         &SoundPart::sysPlay,
                                          &SoundPart::voiceVolume,  &SoundPart::skipVolume};
  for (auto field : kNumbers)
    if (child.*field == -1) child.*field = parent.*field;
}

void SetCurrent(SoundPart& part) {
  part.curVolume = part.volume;
  part.curPlay = part.play;
  part.curSysPlay = part.sysPlay;
  part.curVoiceVolume = part.voiceVolume;
  part.curSkipVolume = part.skipVolume;
  part.curMute = part.mute;
}

// Reads the part at path and, recursively, its children below path/part.
// A child inherits from its parent before its own children are read, so that
// a value set two levels up reaches the grandchildren through a child that
// leaves it unset.
void ReadPart(tqXml& x, SoundPart& part, const Names& path, const std::string& element,
              const SoundPart* parent, int depth) {
  part.element = element;
  ReadString(x, part.name, With(path, "name"));
  ReadInt(x, part.id, With(path, "id"));
  ReadString(x, part.type, With(path, "type"));
  ReadString(x, part.head, With(path, "head"));
  tqToLower(part.head.data());
  ReadInt(x, part.group, With(path, "group"));
  ReadString(x, part.folder, With(path, "int"));
  ReadInt(x, part.masterVolume, With(path, "mastervol"));
  ReadInt(x, part.volume, With(path, "volume"));
  ReadInt(x, part.play, With(path, "play"));
  ReadInt(x, part.sysPlay, With(path, "sysplay"));
  ReadInt(x, part.voiceVolume, With(path, "voicevol"));
  ReadInt(x, part.skipVolume, With(path, "skipvol"));
  ReadInt(x, part.sameId, With(path, "sameid"));
  ReadInt(x, part.mute, With(path, "mute"));
  if (parent) Inherit(part, *parent);
  SetCurrent(part);
  if (depth >= kMaxDepth) return;
  Names childBase = With(path, "part");
  // Same-named children all answer to one path, so the part is read once: a
  // file that repeats names level after level would otherwise grow a tree
  // exponential in its depth.
  std::set<std::string> seen;
  for (const std::string& name : ChildNames(x, childBase)) {
    if (!seen.insert(name).second) continue;
    SoundPart child;
    ReadPart(x, child, With(childBase, name), name, &part, depth + 1);
    part.children.push_back(std::move(child));
  }
}

// The player's values, each with the definition's value as default.
void ReadOverride(tqXml& x, SoundPart& part, const Names& path) {
  part.curVolume = x.GetIntPath(part.volume, With(path, "volume"));
  part.curPlay = x.GetIntPath(part.play, With(path, "play"));
  part.curSysPlay = x.GetIntPath(part.sysPlay, With(path, "sysplay"));
  part.curVoiceVolume = x.GetIntPath(part.voiceVolume, With(path, "voicevol"));
  part.curSkipVolume = x.GetIntPath(part.skipVolume, With(path, "skipvol"));
  part.curMute = x.GetIntPath(part.mute, With(path, "mute"));
  for (SoundPart& child : part.children) ReadOverride(x, child, With(path, "part", child.element));
}

}  // namespace

void tqConfig::SetSoundFile(const char* name) {
  CopyText(soundFile_, sizeof soundFile_, name ? name : "", name ? strlen(name) : 0);
}

int tqConfig::CheckSoundFile() {
  soundPresent_ = 0;
  if (!soundFile_[0]) SetSoundFile(Field(data_.soundConfig).c_str());
  char resolved[1024];
  if (!soundFile_[0] || !ResolvePath(resolved, sizeof resolved, soundFile_, "config")) return 0;
  // Without a file server the name is looked for on disk.
  int found = g_tqFileServer ? g_tqFileServer->IsFile(resolved) : tqFile().Exists(resolved);
  if (!found) return 0;
  // The file is there: the definitions count as present even when it does
  // not parse.
  LoadSoundDefinition(resolved);
  soundPresent_ = 1;
  return soundPresent_;
}

int tqConfig::LoadSoundDefinition(const char* resolvedName) {
  tqXml definition;
  if (!tqConfigParseFile(definition, resolvedName)) {
    soundGroups_.clear();
    master_ = SoundPart();
    parts_.clear();
    soundPresent_ = 0;
    return 0;
  }
  // The player's copy has the definition's file name, in the save folder.
  std::vector<char> fileName(strlen(resolvedName) + 1);
  tqFileNameOf(resolvedName, fileName.data());
  tqXml override;
  std::string overridePath = JoinPath(Field(data_.saveFolder), fileName.data());
  bool haveOverride = fileName[0] && tqFile().Exists(overridePath.c_str()) &&
                      override.Open(overridePath.c_str());
  ReadSoundDefinition(definition, haveOverride ? &override : nullptr);
  soundPresent_ = 1;
  return 1;
}

void tqConfig::ReadSoundDefinition(tqXml& x, tqXml* override) {
  soundGroups_.clear();
  for (const std::string& name : ChildNames(x, {"SOUNDGROUP"})) {
    SoundGroupEntry e;
    ReadString(x, e.comment, {"SOUNDGROUP", name, "comment"});
    ReadInt(x, e.id, {"SOUNDGROUP", name, "id"});
    ReadString(x, e.label, {"SOUNDGROUP", name, "label"});
    ReadString(x, e.type, {"SOUNDGROUP", name, "type"});
    ReadInt(x, e.min, {"SOUNDGROUP", name, "min"});
    ReadInt(x, e.max, {"SOUNDGROUP", name, "max"});
    soundGroups_.emplace(e.id, std::move(e));
  }

  master_ = SoundPart();
  ReadPart(x, master_, {"MASTER"}, "MASTER", nullptr, 0);

  parts_.clear();
  std::set<std::string> seen;
  for (const std::string& name : ChildNames(x, {"PART"})) {
    if (!seen.insert(name).second) continue;  // the same element again
    SoundPart part;
    ReadPart(x, part, {"PART", name}, name, nullptr, 0);
    parts_.push_back(std::move(part));
  }

  if (override) {
    ReadOverride(*override, master_, {"MASTER"});
    for (SoundPart& part : parts_) ReadOverride(*override, part, {"PART", part.element});
  }
}
