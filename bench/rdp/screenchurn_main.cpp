// Changes the whole X screen at a steady rate, the load for a display
// benchmark that wants every tile of every frame new: a full-screen window
// shows a wide textured pixmap, shifted sideways by a few pixels each frame
// (one blit in the X server per frame, so the load itself costs little).
// Usage: screen_churn <frames per second>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

long long nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

} // namespace

int main(int argc, char** argv)
{
    const int fps = argc == 2 ? std::atoi(argv[1]) : 0;
    if (fps <= 0) {
        std::fprintf(stderr, "usage: screen_churn <frames per second>\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    const Window root = RootWindow(display, screen);
    XSetWindowAttributes attributes {};
    attributes.override_redirect = True;
    const Window window = XCreateWindow(display, root, 0, 0, width, height, 0, CopyFromParent, InputOutput,
                                        CopyFromParent, CWOverrideRedirect, &attributes);
    XMapWindow(display, window);

    // Twice the screen's width, so that any shift shows a full screen of it.
    const int textureWidth = 2 * width;
    std::vector<unsigned int> pixels(static_cast<size_t>(textureWidth) * height);
    unsigned int noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < textureWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            const unsigned int r = (x * 255 / textureWidth) ^ ((noise >> 16) & 0x1f);
            const unsigned int g = (y * 255 / height) ^ ((noise >> 21) & 0x1f);
            const unsigned int b = ((x + y) & 0xff) ^ ((noise >> 26) & 0x1f);
            pixels[static_cast<size_t>(y) * textureWidth + x] = (r << 16) | (g << 8) | b;
        }
    }
    const int depth = DefaultDepth(display, screen);
    XImage* image = XCreateImage(display, DefaultVisual(display, screen), depth, ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), textureWidth, height, 32, 0);
    const Pixmap texture = XCreatePixmap(display, window, textureWidth, height, depth);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XPutImage(display, texture, gc, image, 0, 0, 0, 0, textureWidth, height);
    image->data = nullptr;
    XDestroyImage(image);

    const long long period = 1000000000LL / fps;
    long long next = nowNs();
    for (long long frame = 0;; ++frame) {
        XCopyArea(display, texture, window, gc, static_cast<int>((frame * 7) % width), 0, width, height, 0, 0);
        XSync(display, False);
        next += period;
        const long long wait = next - nowNs();
        if (wait > 0)
            usleep(static_cast<useconds_t>(wait / 1000));
        else
            next = nowNs();
    }
}
