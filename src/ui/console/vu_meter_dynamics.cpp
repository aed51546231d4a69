#include "ui/console/vu_meter_dynamics.h"

#include <cmath>

namespace ondaline::ui {

double dBToFraction(float level)
{
    if (std::isnan(level)) return vuScaleTicks.front().frac;
    const float c = std::max(-10.0f, std::min(10.0f, level));
    if (c <= vuScaleTicks.front().db) return vuScaleTicks.front().frac;
    for (std::size_t i = 1; i < vuScaleTicks.size(); ++i) {
        const auto& lo = vuScaleTicks[i - 1];
        const auto& hi = vuScaleTicks[i];
        if (c <= hi.db) {
            const float ratio = (c - lo.db) / (hi.db - lo.db);
            return lo.frac + (hi.frac - lo.frac) * ratio;
        }
    }
    return 1.0;
}

void stepNeedle(VUNeedle& needle, double target)
{
    constexpr double stiffness = 0.15;
    constexpr double damping = 0.55;
    constexpr double lowStop = -0.02;
    constexpr double highStop = 1.05;

    const double force = (target - needle.position) * stiffness;
    needle.velocity = needle.velocity * damping + force;
    needle.position += needle.velocity;
    if (needle.position < lowStop) {
        needle.position = lowStop;
        needle.velocity = 0;
    }
    if (needle.position > highStop) {
        needle.position = highStop;
        needle.velocity = 0;
    }
}

}  // namespace ondaline::ui
