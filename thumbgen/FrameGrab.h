#pragma once
#include <string>

class ThumbnailQueue;

// The two ways of making a missing thumbnail from a clip's first frame. Each logs its own steps,
// stores a result on success and reports nothing else.
void GrabWithFFmpeg(ThumbnailQueue& queue, const std::string& clipPath);
void GrabWithDirectShow(ThumbnailQueue& queue, const std::string& clipPath);
