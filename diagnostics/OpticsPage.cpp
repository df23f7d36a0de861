// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/OpticsPage.h"

#include "diagnostics/PagePens.h"
#include "diagnostics/TextFormat.h"

namespace norvex::diagnostics {

void drawOpticsPage(PaintSurface& surface, const OpticsData& data, int colour) {
    // The colour indexes the tables: never let an unexpected value reach past them.
    const int col = (colour >= 0 && colour < OPTIC_COLOURS) ? colour : COLOUR_RED;
    const Rgb value = opticColourRgb(col);

    for (int ch = 0; ch < 5; ++ch)
        pageText(surface, opticsChannelX(ch) - 6, 200, "Chan " + decimal(ch), colours::GREY);
    pageText(surface, 45, 200, "Optics Settings", colours::GREY);
    pageText(surface, 45, 220, "Transm. white levels", colours::GREY);
    pageText(surface, 45, 235, "Transm. black levels", colours::GREY);
    pageText(surface, 45, 250, "Transm. emitters", colours::GREY);
    pageText(surface, 45, 265, "Transm. gains (hex)", colours::GREY);
    pageText(surface, 45, 290, "Refl. white levels", colours::GREY);
    pageText(surface, 45, 305, "Refl. black levels", colours::GREY);
    pageText(surface, 45, 320, "Refl. emitters", colours::GREY);
    pageText(surface, 45, 335, "Refl. gains (hex)", colours::GREY);

    for (int ch = 0; ch < 5; ++ch) {
        const int x = opticsChannelX(ch);
        pageText(surface, x, 220, decimal(data.transWhite[ch][col], 3), value);
        pageText(surface, x, 235, decimal(data.transBlack[ch][col], 3), value);
        pageText(surface, x, 250, decimal(data.transEmitter[ch][col], 3), value);
        pageText(surface, x, 265, hexUpper(data.transGain[ch][col], 3), value);
    }
    for (int ch = 0; ch < 3; ++ch) {
        const int x = opticsChannelX(ch);
        pageText(surface, x, 290, decimal(data.reflWhite[ch][col], 3), value);
        pageText(surface, x, 305, decimal(data.reflBlack[ch][col], 3), value);
        pageText(surface, x, 320, decimal(data.reflEmitter[ch][col], 3), value);
        pageText(surface, x, 335, hexUpper(data.reflGain[ch][col], 3), value);
    }

    for (int x : {35, 200, 260, 320, 380, 440, 500})
        gridLine(surface, x, 198, x, 355);
    for (int y : {198, 218, 285, 355})
        gridLine(surface, 35, y, 500, y);
}

} // namespace norvex::diagnostics
