#pragma once

// The files a settings record names by path (the song file, the default and
// the scheduled images), and what of them moves with the record into
// another station: a path others named is as much theirs wherever it goes.

#include "models/image_schedule_config.h"

#include <set>
#include <string>
#include <vector>

namespace ondaline {

// Every path the record names; none for a name left empty.
std::set<std::string> namedPaths(const ImageScheduleConfig& record);

// Whether the record is in another station than the settings others could
// change that it came from, and still names a path they named there (one
// left behind may come back, in a copy an editor held).
bool holdsPathsOthersNamedElsewhere(const ImageScheduleConfig& record);

// Takes out of `written`, a record carried into another station, every
// path that settings others could change named (the record's origin says
// which): such a path stays theirs, and whatever it leads to later is
// nothing the operator should read as their own. Says which, and why.
std::vector<LeftBehind> leaveBehind(const ImageScheduleConfig& record, ImageScheduleConfig& written);

// The same paths out of the record itself, so that this run no more reads
// them than the next.
void dropLeftBehind(ImageScheduleConfig& record, const std::vector<LeftBehind>& left);

}  // namespace ondaline
