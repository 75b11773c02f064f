// SPDX-License-Identifier: GPL-3.0-or-later
// Samples the window's area of the screen in a tight loop until SIGTERM or
// SIGINT, then reports what it saw:
//   screensampler X Y    (the window's inner top-left on the screen)
// Each sample is classified: PicTo showing the photograph (it equals PicFrom),
// the screen's root colour showing through in the window's plain background,
// and PicTo changing from the previous sample (a "swing" when its mean
// brightness moves by more than an eighth of the range).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

volatile std::sig_atomic_t stop = 0;
using Clock = std::chrono::steady_clock;

// Window coordinates: the picture boxes' inner areas, and points that only
// ever show the window's own background.
constexpr int innerW = 187, innerH = 207, picFromX = 12, picToX = 282, innerY = 12;
constexpr int background[][2] = {{4, 4}, {240, 100}, {550, 100}, {300, 425}, {615, 230}};

// Most events inside any one-second span.
int mostInASecond(const std::vector<double>& times)
{
    int most = 0;
    for (std::size_t first = 0, last = 0; last < times.size(); ++last) {
        while (times[last] - times[first] >= 1.0)
            ++first;
        most = std::max(most, int(last - first + 1));
    }
    return most;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: screensampler X Y\n");
        return 2;
    }
    const int left = std::atoi(argv[1]), top = std::atoi(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "screensampler: cannot open the display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes screen;
    XGetWindowAttributes(display, root, &screen);
    XImage* corner =
        XGetImage(display, root, screen.width - 1, screen.height - 1, 1, 1, AllPlanes, ZPixmap);
    const auto rootColour = std::uint32_t(XGetPixel(corner, 0, 0));
    XDestroyImage(corner);
    std::signal(SIGTERM, [](int) { stop = 1; });
    std::signal(SIGINT, [](int) { stop = 1; });

    const Clock::time_point start = Clock::now();
    long samples = 0, rootSamples = 0;
    std::vector<double> changes, swings, photoRuns;
    std::vector<std::uint32_t> previous;
    double previousMean = -1, photoSince = -1;
    while (!stop) {
        XImage* image =
            XGetImage(display, root, left, top, picToX + innerW, 444, AllPlanes, ZPixmap);
        if (!image || image->bits_per_pixel != 32) {
            std::fprintf(stderr, "screensampler: needs a 24-bit screen\n");
            return 1;
        }
        const auto pixelAt = [image](int x, int y) {
            return reinterpret_cast<const std::uint32_t*>(
                image->data + std::ptrdiff_t(y) * image->bytes_per_line)[x];
        };
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        ++samples;
        bool rootShows = false;
        for (const auto& point : background)
            rootShows |= pixelAt(point[0], point[1]) == rootColour;
        rootSamples += rootShows;
        std::vector<std::uint32_t> picTo(std::size_t(innerW) * std::size_t(innerH));
        bool photo = true;
        double mean = 0;
        for (int y = 0; y < innerH; ++y)
            for (int x = 0; x < innerW; ++x) {
                const std::uint32_t pixel = pixelAt(picToX + x, innerY + y);
                picTo[y * innerW + x] = pixel;
                photo &= pixel == pixelAt(picFromX + x, innerY + y);
                mean += double((pixel >> 16 & 255) + (pixel >> 8 & 255) + (pixel & 255)) / 3;
            }
        XDestroyImage(image);
        mean /= innerW * innerH;
        if (!previous.empty() && picTo != previous) {
            changes.push_back(t);
            if (std::abs(mean - previousMean) > 32)
                swings.push_back(t);
        }
        if (photo && photoSince < 0)
            photoSince = t;
        if (!photo && photoSince >= 0) {
            photoRuns.push_back(t - photoSince);
            photoSince = -1;
        }
        previous = std::move(picTo);
        previousMean = mean;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(photoRuns.begin(), photoRuns.end());
    std::printf("samples %ld in %.1f s (%.0f a second)\n", samples, seconds,
                double(samples) / seconds);
    std::printf("samples showing the root colour in the window's background: %ld\n", rootSamples);
    std::printf("PicTo changes: %zu, most in any second %d\n", changes.size(),
                mostInASecond(changes));
    std::printf("PicTo brightness swings: %zu, most in any second %d\n", swings.size(),
                mostInASecond(swings));
    std::printf("photograph shown then covered: %zu times, shortest %.0f ms\n", photoRuns.size(),
                photoRuns.empty() ? 0.0 : photoRuns.front() * 1000);
    XCloseDisplay(display);
    return 0;
}
