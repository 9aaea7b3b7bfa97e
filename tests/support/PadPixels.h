#pragma once

#include <QImage>

// Anything but the white background inside the memory pad's text area.
inline bool PadHasText(const QImage &pad)
{
    for (int y = 4; y < pad.height() - 4; ++y) {
        for (int x = 4; x < pad.width() - 6; ++x) {
            if (pad.pixel(x, y) != qRgb(255, 255, 255))
                return true;
        }
    }
    return false;
}
