// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/VideoTestPage.h"

#include "diagnostics/PagePens.h"
#include "diagnostics/TextFormat.h"

#include <string_view>

namespace norvex::diagnostics {

namespace {

struct ScaleText {
    int y;
    std::string_view transmissive, reflective;
};

// Each label sits 7 pixels above the grid line it names.
constexpr ScaleText SCALE_TEXTS[] = {{213, "110", "250"}, {233, "100", "240"}, {253, " 90", "230"},
                                     {273, " 80", "220"}, {293, " 70", "210"}, {313, " 60", "200"},
                                     {333, " 50", "190"}};

void drawGraph(PaintSurface& s, const VideoGraph& g, const VideoTable& levels, bool reflective) {
    for (int y = VIDEO_GRAPH_TOP; y <= VIDEO_GRAPH_BOTTOM; y += 20)
        gridLine(s, g.x0, y, g.x0 + 49, y);
    for (int j = 0; j <= 4; ++j)
        gridLine(s, g.x0 + 12 * j, VIDEO_GRAPH_TOP, g.x0 + 12 * j, VIDEO_GRAPH_BOTTOM);

    // Reference levels: transmissive 88 and 71.5, reflective 242 and 198.
    for (int y : reflective ? std::array{236, 324} : std::array{264, 297})
        s.drawLine(g.x0, y, g.x0 + 48, y, colours::GREY, 1);

    for (int col = 0; col < OPTIC_COLOURS; ++col) {
        const int y = videoMarkY(levels[g.channel][col][0], reflective);
        s.drawLine(videoMarkLeft(g.x0, col), y, videoMarkRight(g.x0, col), y, opticColourRgb(col), 2);
    }
}

} // namespace

void drawVideoTestPage(PaintSurface& surface, const VideoTestData& data) {
    // All texts first: they are opaque and must not cover a mark.
    for (const auto& g : TRANSMISSIVE_GRAPHS)
        pageText(surface, g.x0 + 10, 200, "ch " + decimal(g.channel), colours::TEAL);
    for (const auto& g : REFLECTIVE_GRAPHS)
        pageText(surface, g.x0 + 10, 200, "ch " + decimal(g.channel), colours::TEAL);
    pageText(surface, 60, 345, "transmissive", colours::TEAL);
    pageText(surface, 370, 345, "reflective", colours::TEAL);
    for (const auto& t : SCALE_TEXTS) {
        pageText(surface, 30, t.y, t.transmissive, colours::TEAL);
        pageText(surface, 340, t.y, t.reflective, colours::TEAL);
    }
    for (const auto& g : TRANSMISSIVE_GRAPHS)
        drawGraph(surface, g, data.videoTrans, false);
    for (const auto& g : REFLECTIVE_GRAPHS)
        drawGraph(surface, g, data.videoRefl, true);
}

} // namespace norvex::diagnostics
