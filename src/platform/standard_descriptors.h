#pragma once

namespace ondaline::platform {

// Some launchers start a program with standard input, output or error
// closed. Left so, the next file, socket or connection opened takes that
// number, and what is then written to standard output or error goes into
// it: the log into the display's connection, say. Each one closed is
// opened here on /dev/null (input read-only, the others write-only).
// Call first thing in main, before anything opens a file.
void openClosedStandardDescriptors();

}  // namespace ondaline::platform
