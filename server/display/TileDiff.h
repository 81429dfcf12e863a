#pragma once

#include <cstdint>
#include <vector>

struct ScreenRect
{
    int x = 0, y = 0, w = 0, h = 0;
};

// Narrows damage reports to the 64x64 tiles whose pixels really changed since
// the previous frame. X reports whole scrolled or redrawn areas; most of a
// terminal, for one, stays the same from frame to frame.
class TileDiff
{
public:
    static constexpr int TileSize = 64;

    // frame: 32-bit pixels, top-down. A new size counts as a full change.
    std::vector<ScreenRect> changedTiles(const uint8_t* frame, int stride, int width, int height,
                                         const std::vector<ScreenRect>& damage);

private:
    std::vector<uint8_t> m_previous;
    std::vector<uint8_t> m_marked;
    int m_width = 0, m_height = 0;
};
