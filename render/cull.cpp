#include "render/cull.h"

WorldBox viewReach(const WindowView& view, double pixels)
{
    WorldBox box{-INFINITY, -INFINITY, INFINITY, INFINITY};
    if (view.width > 0 && view.height > 0)
    {
        const double left = static_cast<double>(view.origin.x);
        const double bottom = static_cast<double>(view.origin.y);
        // GL maps the world to the window in single precision, a few units in the seventh
        // digit of the view's coordinates off; far from the origin that is more than pixels.
        const double rounding = 1e-5 * (std::fabs(left) + std::fabs(bottom) + VIEW_SIZE);
        const double across = pixels * VIEW_SIZE / view.width + rounding;
        const double up = pixels * VIEW_SIZE / view.height + rounding;
        box = WorldBox{left - across, bottom - up, left + VIEW_SIZE + across,
                       bottom + VIEW_SIZE + up};
    }
    return box;
}
