// What a crash-safe update needs from the system beyond tqPlatform.h: data
// flushed to the disk, renames that replace and are durable, free space, a
// probe for files another program holds, and test hooks that inject faults.
#pragma once

#include <cstdint>

#include "platform/tqPlatform.h"

namespace tqp {

// Writes a file's data and size to the disk before returning.
bool FlushFileByName(const char* path);
// Starts writing a file's data to the disk without waiting for it, so that a
// later FlushFileByName finds little left to do (Linux: sync_file_range;
// elsewhere nothing).
void StartWriteback(const char* path);
// Makes the entries of a folder (creations, renames, removals) durable. POSIX
// syncs the folder itself; Windows has no such call for folders and relies on
// MoveReplace's write-through, so it only checks that the folder exists.
bool FlushFolder(const char* path);
// Renames within one volume, replacing an existing file, and returns once the
// rename is on the disk (rename + folder sync; MoveFileEx with write-through).
bool MoveReplace(const char* from, const char* to);
// Bytes the caller may still write on the volume holding path (an existing
// folder or file).
bool VolumeFreeBytes(const char* path, uint64_t* bytes);
// 0 when the existing file can be opened for writing with no sharing at all,
// else the error that stops it (ERR_SHARING_VIOLATION when another program
// holds it open). Nothing is changed: no truncation, no time stamps.
uint32_t ProbeExclusiveWrite(const char* path);

// ------------------------------------------------------------ test hooks
// Makes the first read (FAULT_READ) or write (FAULT_WRITE) of the fileNumber-th
// file opened with OPEN_SEQUENTIAL for that access fail with a read or write
// fault (numbers from 1). The copy engine opens its files that way.
enum IoFaultKind { FAULT_NONE = 0, FAULT_READ = 1, FAULT_WRITE = 2 };
void SetIoFault(IoFaultKind kind, int fileNumber);
// Ends the process at once, as a kill from outside would.
[[noreturn]] void KillSelfForTests();
// POSIX: stops the process (SIGSTOP) until a test lets it go on; Windows: no-op.
void StopSelfForTests();

namespace iofault {
// Called by both backends' FileOpen, FileRead, FileWrite and FileClose.
void NoteOpen(FileHandle h, uint32_t access, uint32_t flags);
void NoteClose(FileHandle h);
// True (with the error set) when this call must fail.
bool Fails(FileHandle h, bool write);
}  // namespace iofault

}  // namespace tqp
