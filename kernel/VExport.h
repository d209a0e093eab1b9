// Marks what the toolbox library exports. The library is built with hidden visibility, so only classes
// and functions marked here are part of its binary interface; the platform layer and internals stay private.
#pragma once

#define VELK_API __attribute__((visibility("default")))
