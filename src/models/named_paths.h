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

// Takes out of `written`, a record carried into another station, each path
// that settings others could change named (the record's origin says which)
// and whose file those others could not read: one they may not read must
// not become the operator's to show by moving. Says which, and why.
std::vector<LeftBehind> leaveBehind(const ImageScheduleConfig& record, ImageScheduleConfig& written);

// The same paths out of the record itself, so that this run no more reads
// them than the next.
void dropLeftBehind(ImageScheduleConfig& record, const std::vector<LeftBehind>& left);

}  // namespace ondaline
