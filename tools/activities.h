// Building blocks of the generated recordings: everyday activities and
// falls, each appending its samples to a Sensor. Rotations about a fixed
// sensor axis are integrated exactly, so postures come out as intended.
#ifndef TOOLS_ACTIVITIES_H
#define TOOLS_ACTIVITIES_H

#include "motion.h"

namespace recgen {

// Sensor-frame axes.
constexpr Vec3 kAxisX{1.0, 0.0, 0.0};
constexpr Vec3 kAxisY{0.0, 1.0, 0.0};
constexpr Vec3 kAxisZ{0.0, 0.0, 1.0};

// Degrees of trunk lean back while seated (a rotation about -X).
constexpr double kSeatedLean = 12.0;

// Keeps the current posture: slight sway and breathing, 1 g of force.
void Still(Sensor* s, double seconds);

// Turns by degrees about a sensor-frame axis with a smooth rate profile.
// push shapes the vertical force: 1 + push * sin(2 pi u) over the turn
// (u from 0 to 1), as when the body is lifted and then stopped.
void Turn(Sensor* s, Vec3 axis, double degrees, double seconds, double push);

// Turns back to upright along the shortest way, keeping the heading.
void Level(Sensor* s, double seconds);

// Walking at stepHz steps per second while the heading changes by
// turnDegrees (about the vertical axis), then settling exactly upright.
void Walk(Sensor* s, double seconds, double stepHz, double turnDegrees);

// From standing to seated, and back; a hard sit drops onto the seat.
void SitDown(Sensor* s, bool hard);
void StandUp(Sensor* s);

// Bends forward by degrees, stays a moment, straightens up again.
void Bend(Sensor* s, double degrees);

// From seated to lying on the back, and back to seated.
void LieDown(Sensor* s);
void SitUp(Sensor* s);

// While lying on the back: rolls onto the side (degrees about the body's
// long axis, +Y) or back.
void Roll(Sensor* s, double degrees);

// A counter-movement jump on the spot, landing upright.
void Jump(Sensor* s);

// One fall: balance lost, the body turns about axis while it drops in a
// low-g phase, then the impact stops the turn; a short settling follows.
struct FallShape {
    Vec3 axis;             // sensor-frame axis of the body's turn (unit)
    double degrees;        // turn from the start of the fall to the impact
    double loseSeconds;    // losing balance: the turn sets in, force eases
    double dropSeconds;    // dropping: the low-g phase
    double lowG;           // specific force while dropping, g
    double speedUp;        // the turn rate grows as time to this power
    double impactG;        // peak specific force of the impact, g
    Vec3 impactSide;       // world direction of the impact's horizontal part
    double sideShare;      // horizontal part relative to the peak
    double settleSeconds;  // bounce and settling after the impact
};
void Fall(Sensor* s, const FallShape& shape);

// Tumbling (down stairs): fast rolling about Z with a side wobble about X
// and repeated knocks, strong force throughout; ends with an impact.
void Tumble(Sensor* s, double seconds, double rollDegrees);

}  // namespace recgen

#endif
