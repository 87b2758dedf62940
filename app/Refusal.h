// Why the updater will not go on with a package or an installation: the kind
// of problem and the path (or text) it concerns, for the message box and the
// exit status.
#pragma once

#include <string>

struct Refusal {
  enum Kind {
    NONE = 0,
    LINK,               // a symbolic link, junction or other reparse point
    SPECIAL_FILE,       // a FIFO, socket or device
    NAME_NOT_IN_CODE_PAGE,  // a name the system's code page cannot hold
    PATH_TOO_LONG,
    UNREADABLE,         // a folder or file that cannot be read
    WRITE_FAILED,       // a file of the installation that cannot be written
    TOO_LARGE,          // a file above the size the updater loads
    OUT_OF_MEMORY,
    NOT_ABSOLUTE,       // the installation path is empty or relative
    NOT_A_FOLDER,       // the installation path names no existing folder
    DESCRIPTION_CUT,    // the description's root element was never closed
    MISSING_MESSAGES,   // the chosen language has no message texts
    VERSION_RANGE,      // a version number outside 0 to 65535
  };
  Kind kind = NONE;
  std::string path;  // Shift_JIS, as the library names it

  explicit operator bool() const { return kind != NONE; }
  void Set(Kind k, const std::string& p) {
    kind = k;
    path = p;
  }
  // One line for a message box or a log: the path and the reason (Shift_JIS).
  std::string Describe() const;
};
