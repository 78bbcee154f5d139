// What a rescue checks before it reads: that a map found beside the image
// belongs to this source, this range and this image, and that its path takes
// nothing's place. Each gives the refusal to show, or empty.
#pragma once

#include <string>

#include "imaging/RescueMap.h"
#include "imaging/RescueRun.h"

namespace kestrum {

// "source sector N is image byte 0, <layout>", as the map records it.
std::string originOf(const RescueSettings& s);
// A map of our own made for another range start or piece layout.
std::string foreignOrigin(const RescueMap& map, const RescueSettings& s, const std::string& path);
// What the map calls rescued that the image does not hold.
std::string rescuedButNotHeld(const RescueMap& map, const RescueSettings& s,
                              const std::string& path);
// A map made of another disk than now, the source's identity text.
std::string otherSource(const RescueMap& map, const std::string& now, const std::string& path);
std::string mapPathProblem(const std::string& mapPath, const std::string& sourcePath);

}  // namespace kestrum
