// Free routines shared by the whole library: paths, Shift_JIS text, numbers,
// memory, special folders, version resources and window placement. Output
// buffers belong to the caller, who provides the sizes named here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"
#include "platform/tqShiftJis.h"

// ------------------------------------------------------------------ paths
// Joins n texts with backslashes into out (260 or 1024 bytes at the callers);
// returns the length. n <= 0 gives 0 and an empty output; no buffer gives 0.
int tqPathJoin(char* out, int n, ...);
// tqPathJoin of two texts into a buffer of outSize bytes, measured before
// anything is written: false (and an empty output when outSize allows) when
// the joined path and its terminator do not fit.
bool tqPathJoinSized(char* out, size_t outSize, const char* a, const char* b);
// Cuts the extension after the last separator and appends "." + ext when given.
void tqChangeExtension(char* path, const char* ext);
// Points just after the last "." that follows the last separator, else at the end.
const char* tqExtensionOf(const char* path);
bool tqHasExtension(const char* path);
// Copies the part after the last "\" or "/" (the whole path when the only
// separator is the first byte).
void tqFileNameOf(const char* path, char* out);
// Double-byte aware: everything before the last separator; false and an empty
// output when there is no separator after the first byte.
bool tqParentFolderOf(const char* path, char* out);
// 0 nothing, 1 file, 2 folder.
int tqExists(const char* path);
// Creates every missing folder of path (its parent when isFile); see the
// library notes on bare drives.
bool tqCreateFolderTree(const char* path, bool isFile);
// Special folders by index 0..11; out holds 260 bytes.
bool tqShellFolder(int index, char* out);

// ------------------------------------------------------------------ text
// Shift_JIS lead and trail bytes.
inline bool tqIsLeadByte(unsigned char c) { return tqp::IsSjisLeadByte(c); }
inline bool tqIsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
// Byte-wise index of needle in text, -1 when absent (an empty needle gives 0).
int tqStrIndex(const char* text, const char* needle);
// Writes src with every occurrence of find replaced into out; returns the length.
int tqReplaceAll(const char* src, const char* find, const char* replacement, char* out);
// Index of a byte (code < 256) or of a double-byte pair (larger code); -1 when absent.
int tqFindChar(const char* text, unsigned code);
// lead << 8 | trail for a double-byte character, else the byte; 0 for no text.
unsigned tqCharCodeAt(const char* text);
bool tqIsDoubleByte(const char* text, size_t pos);
// In place, double-byte aware; return the length.
int tqToLower(char* text);
int tqToUpper(char* text);
// UTF-16 to code page 932; bytes written including the NUL, 0 on failure.
int tqNarrowFromWide(const wchar_t* wide, char* out, int outSize);
// Copies the line at text + pos (up to CR LF, LF or the end) into out and
// returns the bytes consumed; 0 at the end of the text.
int tqReadLine(const char* text, size_t pos, char* out);
// Bounded form for untrusted text: a line longer than outSize - 1 is cut there
// (the whole line is still consumed).
int tqReadLineN(const char* text, size_t pos, char* out, size_t outSize);

// ------------------------------------------------------------------ numbers
// Decimal, or hexadecimal after "0x"; optional sign; "12." gives 0; 32-bit wrap.
int tqNumber(const char* text);
// Same rules; value and index just after the number through out-parameters.
bool tqNumberEnd(const char* text, int* value, int* end);

// ------------------------------------------------------------------ memory
int tqMemCompare(const void* a, const void* b, size_t n);
void tqMemCopy(void* dst, const void* src, size_t n);
void tqMemZero(void* dst, size_t n);

// ------------------------------------------------------------------ windows
// Centres (0, 0, w, h) on the screen and grows it by the frame of the style
// (exStyle -1: the plain frame computation). An absent rectangle is fatal.
void tqCenterRect(tqp::Rect* rect, uint32_t style, uint32_t exStyle, bool menu);
bool tqCenterWindow(tqp::WindowHandle reference, tqp::WindowHandle window);

class tqWindowClass {
 public:
  bool Register(const char* className, tqp::WindowProc proc, void* instance, void* largeIcon,
                void* smallIcon, void* brush, const char* menuName, void* cursor, uint32_t style);
  void Unregister();
  uint16_t Atom() const { return atom_; }

 private:
  char name_[260] = {};
  void* instance_ = nullptr;
  uint16_t atom_ = 0;
};

// ------------------------------------------------------------------ version
struct tqVersionInfo {
  char comments[256];
  char companyName[256];
  char fileDescription[256];
  char fileVersion[256];
  char internalName[256];
  char legalCopyright[256];
  char legalTrademarks[256];
  char originalFilename[256];
  char productName[256];
  char productVersion[256];
  char privateBuild[256];
  char specialBuild[256];
  // Fourth, third, second, first: as one little-endian 64-bit value it
  // compares in version order.
  uint16_t version[4];

  uint64_t Version64() const {
    return (uint64_t)version[3] << 48 | (uint64_t)version[2] << 32 | (uint64_t)version[1] << 16 |
           version[0];
  }
};
static_assert(sizeof(tqVersionInfo) == 12 * 256 + 8);

// Reads the version resource of a file into info; false when it has none or
// it cannot be read.
bool tqReadVersionInfo(const char* file, tqVersionInfo* info);
// Parses a FileVersion text ("1, 2, 3, 4" or "1.2.3.4") into info->version.
void tqParseFileVersion(const char* text, tqVersionInfo* info);
