// Finding the installation through the installer's record file, and the
// version gate.
#pragma once

#include <cstdint>

// The installation folder found by LookupInstallation (260 bytes).
char* TheInstallFolder();
// The installer's record <machine-wide application data>\<brand>\<app>.xml
// that LookupInstallation reads (path: capacity bytes); false when the
// application-data folder is unknown or the path does not fit.
bool InstallRecordPath(const char* brand, const char* app, char* path, uint32_t capacity);

// Reads <app>.xml in <machine-wide application data>\<brand> and keeps the
// text between its first <path> and </path> in folder (260 bytes). A text that
// does not fit the buffer is refused: the lookup fails.
bool LookupInstallation(const char* brand, const char* app, char* folder);
// The same on a text already in memory.
bool ExtractInstallFolder(const char* text, char* folder);

// Version word of <installation>\config\startup.xml; 0 when it is missing.
uint32_t ReadInstalledVersion(const char* folder);
// The same on a text already in memory.
uint32_t VersionWordFromText(const char* text);
// (major << 16) | minor in 32-bit arithmetic.
uint32_t VersionWord(int major, int minor);
// The required word from the description's version texts.
uint32_t RequiredVersion(const char* major, const char* minor);
// The update may go on when the installed word is not below the required one.
inline bool VersionGatePasses(uint32_t installed, uint32_t required) { return installed >= required; }

// Reads a whole file into a zero-filled buffer of its size plus 8 bytes; false
// when it does not open or a short read happens.
bool ReadWholeFile(const char* path, char** buffer, uint32_t* size);
void FreeWholeFile(char* buffer);
