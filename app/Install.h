// Finding the installation through the installer's record file, and the
// version gate.
#pragma once

#include <cstdint>

#include "app/Refusal.h"

// The installation folder found by LookupInstallation (260 bytes).
char* TheInstallFolder();
// The installer's record <machine-wide application data>\<brand>\<app>.xml
// that LookupInstallation reads (path: capacity bytes); false when the
// application-data folder is unknown or the path does not fit.
bool InstallRecordPath(const char* brand, const char* app, char* path, uint32_t capacity);

// Reads <app>.xml in <machine-wide application data>\<brand> and keeps the
// text between its first <path> and </path> in folder (260 bytes), made
// canonical by NormaliseInstallFolder. A text that does not fit the buffer, a
// path that is not absolute or names no existing folder fails the lookup
// (the reason in *why when given).
bool LookupInstallation(const char* brand, const char* app, char* folder, Refusal* why = nullptr);
// The same on a text already in memory (no check of the path).
bool ExtractInstallFolder(const char* text, char* folder);
// The installation path must be absolute on a drive ("X:\..."): "." and ".."
// are resolved the way Windows does (".." at the root stays there, so the
// path never leaves its drive), repeated separators are merged, and the
// result, which must fit 260 bytes, replaces folder. False for an empty,
// relative or drive-relative path.
bool NormaliseInstallFolder(char* folder, Refusal* why = nullptr);

// Version word of <installation>\config\startup.xml; 0 when it is missing
// or a number in it lies outside 0 to 65535.
uint32_t ReadInstalledVersion(const char* folder);
// The same on a text already in memory.
uint32_t VersionWordFromText(const char* text);
// A version number text as a 16-bit field: the number parser's rules (sign,
// decimal or 0x hexadecimal, a text that does not start with a number reads
// as 0), but a value outside 0 to 65535 is refused instead of wrapped.
bool ParseVersionField(const char* text, uint16_t* field);
// major << 16 | minor.
inline uint32_t VersionWord(uint16_t major, uint16_t minor) { return (uint32_t)major << 16 | minor; }
// The required word from the description's version texts; false when a
// number is out of range.
bool RequiredVersion(const char* major, const char* minor, uint32_t* word);
// The same for callers without a way to refuse: an out-of-range requirement
// gives the highest word, which no real installation reaches below 65535.65535.
uint32_t RequiredVersion(const char* major, const char* minor);
// The update may go on when the installed word is not below the required one.
inline bool VersionGatePasses(uint32_t installed, uint32_t required) { return installed >= required; }

// Reads a whole file into a zero-filled buffer of its size plus 8 bytes; false
// when it does not open (FIFOs and devices do not), is larger than maxSize,
// memory runs out or a short read happens.
bool ReadWholeFile(const char* path, char** buffer, uint32_t* size, uint32_t maxSize = 1u << 24);
void FreeWholeFile(char* buffer);
