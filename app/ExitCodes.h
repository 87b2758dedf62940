// Exit statuses of update and update.exe: 0 only after a successful update;
// every other end has its own number, so scripts and installers can tell
// them apart.
#pragma once

enum TqExitStatus : int {
  TQ_EXIT_SUCCESS = 0,    // the update was applied completely
  TQ_EXIT_USAGE = 2,      // the command line was not understood (Linux)
  TQ_EXIT_REFUSED = 3,    // nothing was attempted: no description, no language, the game
                          // running, no installation, too old a version, no data folder,
                          // an input that is refused as unsafe
  TQ_EXIT_CANCELLED = 4,  // the user cancelled; the installation is as it was
  TQ_EXIT_FAILED = 5,     // a check or the copy failed; the installation is as it was
};
