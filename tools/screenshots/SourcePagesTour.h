// The source page and the image-creation page in the screenshot tour: both modes
// of the source page with a drive, an image folder and a disk chosen, and a real
// copy of the demo image with its Stop question and its outcome.
#pragma once

#include <QString>

#include <functional>
#include <utility>
#include <vector>

namespace kestrum::ui {

class ScreenshotTour;

std::vector<std::pair<QString, std::function<void()>>> sourcePageSteps(ScreenshotTour& tour);

}  // namespace kestrum::ui
