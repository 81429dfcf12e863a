#pragma once

#include <QString>

// The display's window mode as a launcher names it: "rootless",
// "fullscreen" or a desktop size such as "1024x768".
struct RdpWindowMode
{
    enum Kind { Desktop, Fullscreen, Rootless };

    Kind kind = Desktop;
    // Requested desktop size, for Desktop only (remote pixels, not scaled).
    int width = 1024;
    int height = 768;

    static RdpWindowMode parse(const QString& mode);
};
