#include "window_pictures.h"

#include <algorithm>
#include <map>

namespace e2e {
namespace {

constexpr Rgb kWhite{255, 255, 255};

bool Saturated(Rgb c) {
    int high = std::max({c.r, c.g, c.b}), low = std::min({c.r, c.g, c.b});
    return high - low >= 100;
}
bool Grey(Rgb c) { return c.r == c.g && c.g == c.b; }
bool Dark(Rgb c) { return std::max({c.r, c.g, c.b}) < 80; }
bool Red(Rgb c) { return c.r >= 160 && c.g <= 100 && c.b <= 100; }

int CountInRow(const Picture& picture, int y, Rgb colour) {
    int count = 0;
    for (int x = 0; x < picture.width; ++x) count += picture.At(x, y) == colour;
    return count;
}

// Consecutive rows that pass `keep`, as bands.
template <typename Keep>
std::vector<RowBand> Bands(int from, int to, Keep keep) {
    std::vector<RowBand> bands;
    for (int y = from; y < to; ++y) {
        if (!keep(y)) continue;
        if (!bands.empty() && bands.back().bottom == y - 1) bands.back().bottom = y;
        else bands.push_back({y, y});
    }
    return bands;
}

// One row's cut through a bar: the border columns and how much of the inside is filled.
struct BarRow {
    int left = 0, right = 0, fill = 0;
    bool operator==(const BarRow&) const = default;
};

std::optional<BarRow> BarInRow(const Picture& picture, int y) {
    // The frame and the page margin come first: a bar is well inside the window.
    constexpr int kMargin = 8;
    for (int x = kMargin; x < picture.width - kMargin;) {
        Rgb colour = picture.At(x, y);
        int end = x;
        while (end + 1 < picture.width && picture.At(end + 1, y) == colour) ++end;
        if (Saturated(colour) && end - x >= 20) {
            int white = end + 1;
            while (white < picture.width && picture.At(white, y) == kWhite) ++white;
            Rgb before = picture.At(x - 1, y);
            if (white < picture.width - kMargin && Grey(before) && before != kWhite && picture.At(white, y) == before)
                return BarRow{x - 1, white, end - x + 1};
        }
        x = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Caption> FindCaption(const Picture& picture) {
    constexpr int kTopRows = 40;
    const int rows = std::min(picture.height, kTopRows);
    for (int y = 0; y < rows; ++y) {
        Rgb colour = picture.At(picture.width / 2, y);
        if (!Saturated(colour) || CountInRow(picture, y, colour) < picture.width * 8 / 10) continue;
        // Rows with the title's letters or the buttons still show the colour around them.
        std::vector<RowBand> bands =
            Bands(y, rows, [&](int row) { return CountInRow(picture, row, colour) >= picture.width / 4; });
        return Caption{bands.front(), colour};
    }
    return std::nullopt;
}

std::optional<CaptionGlyph> FindCloseBoxGlyph(const Picture& picture, const Caption& caption) {
    CaptionGlyph glyph{picture.width, picture.height, -1, -1};
    const int from = picture.width * 3 / 4;
    for (int y = caption.rows.top; y <= caption.rows.bottom; ++y)
        for (int x = from; x < picture.width; ++x) {
            if (!Dark(picture.At(x, y))) continue;
            ++glyph.darkPixels;
            glyph.left = std::min(glyph.left, x), glyph.right = std::max(glyph.right, x);
            glyph.top = std::min(glyph.top, y), glyph.bottom = std::max(glyph.bottom, y);
        }
    if (glyph.darkPixels == 0) return std::nullopt;

    glyph.mirrorSymmetric = true;
    for (int y = glyph.top; y <= glyph.bottom; ++y)
        for (int x = glyph.left; x <= glyph.right; ++x) {
            bool dark = Dark(picture.At(x, y));
            glyph.mirrorSymmetric &= dark == Dark(picture.At(glyph.left + glyph.right - x, y)) &&
                                     dark == Dark(picture.At(x, glyph.top + glyph.bottom - y));
        }

    glyph.onButtonFace = glyph.left >= 2 && glyph.top >= 2 && glyph.right + 2 < picture.width &&
                         glyph.bottom + 2 < picture.height;
    for (int y = glyph.top - 2; glyph.onButtonFace && y <= glyph.bottom + 2; ++y)
        for (int x = glyph.left - 2; x <= glyph.right + 2; ++x) glyph.onButtonFace &= picture.At(x, y) != caption.colour;
    return glyph;
}

std::vector<RowBand> RedTextBands(const Picture& picture) {
    return Bands(0, picture.height, [&](int y) {
        for (int x = 0; x < picture.width; ++x)
            if (Red(picture.At(x, y))) return true;
        return false;
    });
}

std::vector<ProgressBar> FindProgressBars(const Picture& picture, const Caption& caption) {
    std::map<int, BarRow> cuts;
    for (int y = caption.rows.bottom + 1; y < picture.height; ++y)
        if (std::optional<BarRow> cut = BarInRow(picture, y)) cuts[y] = *cut;
    // A bar is a few rows cut the same way; its fill is the same in each of them.
    std::vector<ProgressBar> bars;
    for (const RowBand& band : Bands(0, picture.height, [&](int y) { return cuts.count(y) > 0; })) {
        const BarRow& first = cuts[band.top];
        bool even = true;
        for (int y = band.top; y <= band.bottom; ++y) even &= cuts[y] == first;
        if (!even || band.bottom - band.top < 3) continue;
        bars.push_back({band, first.left, first.right, double(first.fill) / double(first.right - first.left - 1)});
    }
    return bars;
}

std::vector<ColumnBand> BlankColumns(const Picture& picture, const RowBand& rows) {
    if (picture.pixels.empty()) return {};
    std::map<uint32_t, int> counts;
    for (Rgb c : picture.pixels) ++counts[uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b];
    auto most = std::max_element(counts.begin(), counts.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    const Rgb background{uint8_t(most->first >> 16), uint8_t(most->first >> 8), uint8_t(most->first)};
    std::vector<ColumnBand> bands;
    for (int x = 0; x < picture.width; ++x) {
        bool blank = true;
        for (int y = rows.top; blank && y <= rows.bottom; ++y) blank = picture.At(x, y) == background;
        if (!blank) continue;
        if (!bands.empty() && bands.back().right == x - 1) bands.back().right = x;
        else bands.push_back({x, x});
    }
    return bands;
}

int DarkPixels(const Picture& picture, const RowBand& rows) {
    int count = 0;
    for (int y = rows.top; y <= rows.bottom; ++y)
        for (int x = 0; x < picture.width; ++x) count += Dark(picture.At(x, y));
    return count;
}

}  // namespace e2e
