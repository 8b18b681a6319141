// Small services that let a program show something to its user and learn
// who is running it: showing a folder in the desktop's file manager, opening
// a file or a web address in its default application, trying a list of
// commands until one can be run, the terminal's width, and the login name.
//
// The desktop operations go through DesktopPlatform (LaunchServices on
// macOS, the desktop's opener elsewhere) and raise one fixed message when
// they fail, without the platform's own status. The texts are borrowed for
// the call only.
#ifndef VANTOREL_PLATFORM_DESKTOP_H
#define VANTOREL_PLATFORM_DESKTOP_H

#include "lang/String.h"

// Shows the folder in the file manager; raises "error launching Finder".
void openFolder(const char* path);
// Opens the file with its default application; raises "error launching text
// editor".
void openTextFile(const char* path);
// Opens the ASCII address in the default browser; raises "error launching
// HTML browser".
void openBrowser(const char* url);

// Tries each command of the null-terminated list in order until one can be
// run. A command is words separated by blanks; `argument`, unless null, is
// added after them. A program named by an absolute path must be a regular
// file and is started without waiting; any other is looked for along PATH,
// run, and waited for, and succeeds unless it could not be started or exec'd
// (its exit code does not matter). Raises an Exception with `message` when no
// command succeeds, an empty list included.
void runFirstAvailable(const char* const* commands, const char* argument, const char* message);

// The number of columns of the terminal on standard output; 80 when standard
// output is no terminal or the terminal does not know its size.
int getTerminalWidth();

// The current user's login name, from the user database, or else from the
// first word of "who -m", which is asked once per process and remembered
// (also when it gave nothing). Raises "GetUserName failure: " + the system's
// text for the current error number when neither yields a name.
String getUserName();

#endif  // VANTOREL_PLATFORM_DESKTOP_H
