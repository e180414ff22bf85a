// Angle constants of the orientation arithmetic, shared with the project's
// recording generator, tests and benchmarks.
#ifndef TUMBLEWATCH_ANGLES_H
#define TUMBLEWATCH_ANGLES_H

constexpr double kPi = 3.141592653589793;
constexpr double kRadPerDeg = kPi / 180.0;

#endif
