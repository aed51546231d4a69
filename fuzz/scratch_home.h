#pragma once

// For targets whose parser reads its text from a file: a private folder made
// at first use and removed at exit, with HOME and XDG_CONFIG_HOME pointing
// into it so the program's own path lookups land there.

#include "base/bytes.h"

#include <string>

namespace ondaline::fuzz {

// The folder; HOME is it, XDG_CONFIG_HOME its ".config".
const std::string& scratchHome();

// Replaces the file's content (no fsync: nothing here must survive a crash).
void writeScratchFile(const std::string& path, ByteView bytes);
void removeScratchFile(const std::string& path);

}  // namespace ondaline::fuzz
