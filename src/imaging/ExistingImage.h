// Image pieces already in a destination folder that a new image would replace,
// so that the user is asked (or the command-line tool refuses) before any is lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/ImageLayout.h"

namespace kestrum {

// The files already in the layout's folder that writing that image would replace
// or delete: Image0.img, and in pieces every piece it writes and the leftovers
// that follow them. Names are matched without regard to case, as the reader does.
std::vector<std::string> piecesToReplace(const ImageLayout& image);

// The page's question before replacing pieces (never empty).
std::string replaceImageQuestion(const std::vector<std::string>& pieces);

}  // namespace kestrum
