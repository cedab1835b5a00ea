// What pictures of Win32 windows under Wine show, found by colour alone: the caption, the
// close box's glyph in it, red text lines and progress bars (the classic look Wine draws:
// a caption of one saturated colour, grey frames, a white window background).
#pragma once

#include <optional>
#include <vector>

#include "picture.h"

namespace e2e {

// Rows top to bottom, both included.
struct RowBand {
    int top = 0, bottom = 0;
};

struct Caption {
    RowBand rows;
    Rgb colour;
};
// The caption bar: the top rows where one saturated colour runs across most of the width.
std::optional<Caption> FindCaption(const Picture& picture);

// The glyph of a caption button at the caption's right end, and what surrounds it.
struct CaptionGlyph {
    int left = 0, top = 0, right = 0, bottom = 0;
    int darkPixels = 0;
    bool mirrorSymmetric = false;  // left-right and top-bottom, as a cross is and a letter is not
    bool onButtonFace = false;     // a margin of two pixels round it holds no caption colour
};
std::optional<CaptionGlyph> FindCloseBoxGlyph(const Picture& picture, const Caption& caption);

// Bands of rows that hold red text (255, 0, 0 and its antialiased edges), top to bottom.
std::vector<RowBand> RedTextBands(const Picture& picture);

// A progress bar with some fill: a run of a saturated colour from the inside of a grey
// border, then white up to the same border.
struct ProgressBar {
    RowBand rows;
    int left = 0, right = 0;  // the border columns
    double filled = 0;        // the share of the inside that is filled
};
// Below the caption, top to bottom; empty bars are not found.
std::vector<ProgressBar> FindProgressBars(const Picture& picture, const Caption& caption);

// Columns, left to right, in which these rows hold only the picture's most common colour
// (the window background): the gaps between what a page shows side by side.
struct ColumnBand {
    int left = 0, right = 0;
};
std::vector<ColumnBand> BlankColumns(const Picture& picture, const RowBand& rows);

// Dark pixels in these rows: black text and glyphs.
int DarkPixels(const Picture& picture, const RowBand& rows);

}  // namespace e2e
