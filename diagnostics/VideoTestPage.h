// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Video Test" page: one level graph per shown channel, with a mark per colour on a scale of
// 2 pixels per level unit (transmissive 110 down to 50, reflective 250 down to 190).

#include "control/PaintSurface.h"
#include "diagnostics/VideoTestData.h"

#include <array>

namespace norvex::diagnostics {

struct VideoGraph {
    int channel;
    int x0; // left edge; every graph spans y 220 to 340
};

inline constexpr std::array<VideoGraph, 5> TRANSMISSIVE_GRAPHS{
    {{3, 60}, {1, 115}, {0, 170}, {2, 225}, {4, 280}}};
inline constexpr std::array<VideoGraph, 3> REFLECTIVE_GRAPHS{{{1, 370}, {0, 425}, {2, 480}}};

inline constexpr int VIDEO_GRAPH_TOP = 220;
inline constexpr int VIDEO_GRAPH_BOTTOM = 340;

// Height of a level mark. A level above the scale is drawn 3 pixels above the top line (217),
// one below it 3 pixels below the bottom line (343).
constexpr int videoMarkY(int level, bool reflective) {
    const int y = (reflective ? 720 : 440) - 2 * level;
    if (y > VIDEO_GRAPH_BOTTOM) return VIDEO_GRAPH_BOTTOM + 3;
    if (y < VIDEO_GRAPH_TOP) return VIDEO_GRAPH_TOP - 3;
    return y;
}

// Left and right end of the mark of a colour in its 12-pixel cell of a graph.
constexpr int videoMarkLeft(int x0, int colour) {
    return x0 + 1 + 12 * colour;
}
constexpr int videoMarkRight(int x0, int colour) {
    return x0 + 11 + 12 * colour;
}

void drawVideoTestPage(PaintSurface& surface, const VideoTestData& data);

} // namespace norvex::diagnostics
