#include "TileDiff.h"

#include <algorithm>
#include <cstring>

std::vector<ScreenRect> TileDiff::changedTiles(const uint8_t* frame, int stride, int width,
                                               int height, const std::vector<ScreenRect>& damage)
{
    const size_t rowBytes = size_t(width) * 4;
    const bool resized = width != m_width || height != m_height;
    if (resized) {
        m_width = width;
        m_height = height;
        m_previous.assign(rowBytes * size_t(height), 0);
    }
    const int columns = (width + TileSize - 1) / TileSize;
    const int rows = (height + TileSize - 1) / TileSize;
    m_marked.assign(size_t(columns) * size_t(rows), 0);
    std::vector<ScreenRect> changed;
    auto visit = [&](int column, int row) {
        uint8_t& mark = m_marked[size_t(row) * size_t(columns) + size_t(column)];
        if (mark)
            return;
        mark = 1;
        const int x = column * TileSize, y = row * TileSize;
        const int w = std::min(TileSize, width - x), h = std::min(TileSize, height - y);
        bool differs = resized;
        for (int line = y; line < y + h; ++line) {
            const uint8_t* src = frame + size_t(line) * size_t(stride) + size_t(x) * 4;
            uint8_t* old = m_previous.data() + size_t(line) * rowBytes + size_t(x) * 4;
            if (differs || std::memcmp(src, old, size_t(w) * 4) != 0) {
                differs = true;
                std::memcpy(old, src, size_t(w) * 4);
            }
        }
        if (differs)
            changed.push_back(ScreenRect { x, y, w, h });
    };
    if (resized) {
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column)
                visit(column, row);
        return changed;
    }
    for (const ScreenRect& r : damage) {
        const int x0 = std::max(0, r.x), y0 = std::max(0, r.y);
        const int x1 = std::min(width, r.x + r.w), y1 = std::min(height, r.y + r.h);
        for (int row = y0 / TileSize; row * TileSize < y1; ++row)
            for (int column = x0 / TileSize; column * TileSize < x1; ++column)
                visit(column, row);
    }
    return changed;
}
