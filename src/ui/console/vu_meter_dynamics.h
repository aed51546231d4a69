#pragma once

// The meter's arithmetic, free of any drawing: where a level sits on the
// scale, and how a needle swings towards it.

#include <algorithm>
#include <array>
#include <numbers>

namespace ondaline::ui {

// One printed mark of the scale: a level in meter dB and its place on the
// arc, 0 at the left end, 1 at the right.
struct VUScaleTick {
    float db;
    double frac;
};

// Ascending; dBToFraction interpolates between neighbours.
inline constexpr std::array<VUScaleTick, 8> vuScaleTicks{{
    {-10.0f, 0.00},
    {-5.0f, 0.18},
    {-2.0f, 0.33},
    {0.0f, 0.44},
    {2.0f, 0.52},
    {5.0f, 0.68},
    {7.0f, 0.80},
    {10.0f, 1.00},
}};

// Needle angles from straight up, negative to the left, at the arc's ends.
inline constexpr double vuArcStartAngle = -std::numbers::pi / 4;
inline constexpr double vuArcEndAngle = std::numbers::pi / 4;

// The pivot as fractions of a meter face's width and height (from its top);
// the needle is vuNeedleLength × the face's height long.
inline constexpr double vuPivotFracX = 0.5;
inline constexpr double vuPivotFracY = 0.87;
inline constexpr double vuNeedleLength = 0.62;

// The needle's angle for an arc fraction; past either end it rests there.
constexpr double vuNeedleAngle(double frac)
{
    return vuArcStartAngle + (vuArcEndAngle - vuArcStartAngle) * std::clamp(frac, 0.0, 1.0);
}

// Meter dB to arc fraction: clamped to the scale's −10…10, piecewise linear
// between the ticks. NaN reads as the bottom of the scale, like silence.
double dBToFraction(float level);

// A needle's position (fraction of the arc) and velocity (fraction per tick).
struct VUNeedle {
    double position = 0;
    double velocity = 0;
};

// One tick of the damped spring that pulls a needle towards `target`. The
// needle stops dead just past either end of the arc, as against a pin.
void stepNeedle(VUNeedle& needle, double target);

}  // namespace ondaline::ui
