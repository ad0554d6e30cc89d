// Small bitmaps written out pixel by pixel, and their bytes read back in memory order.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <future>
#include <initializer_list>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace sbtest {

using styledbuttons::Bitmap24;
using styledbuttons::TColor;

using Bgr = std::array<int, 3>;

// A bitmap filled row by row from colour values (red in the low byte).
inline Bitmap24 MakeBitmap(int width, int height, std::initializer_list<TColor> colours) {
    Bitmap24 b(width, height);
    auto it = colours.begin();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width && it != colours.end(); ++x)
            b.SetPixel(x, y, *it++);
    return b;
}

inline Bitmap24 Filled(int width, int height, TColor colour) {
    Bitmap24 b(width, height);
    b.Fill(colour);
    return b;
}

// The pixel's bytes as they lie in memory: blue, green, red.
inline Bgr At(const Bitmap24& b, int x, int y) {
    const uint8_t* p = b.Row(y) + x * 3;
    return {p[0], p[1], p[2]};
}

inline Bgr Grey(int v) {
    return {v, v, v};
}

// Runs `work` on its own thread and gives it a deadline: a tiling that never ends fails the test
// instead of hanging the run.
inline void WithinDeadline(const std::function<void()>& work) {
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread t(std::move(task));
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "painting did not return";
        std::_Exit(1);
    }
    t.join();
}

} // namespace sbtest
