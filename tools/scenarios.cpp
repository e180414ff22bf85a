#include "scenarios.h"

#include "activities.h"
#include "motion.h"

namespace recgen {

namespace {

// Every recording starts with quiet standing, long enough for the
// detector's attitude calibration (samples 50 to 59) to see the wearer
// upright and at rest.
constexpr double kQuietStart = 4.0;

// Tripping forward: the trunk pitches over faster and faster while the
// body drops, the hands and chest hit the floor.
void ForwardFall(Sensor* s)
{
    Fall(s, FallShape{kAxisX, 90.0, 0.30, 0.40, 0.35, 1.6, 4.2, Vec3{0.0, 0.0, 1.0}, 0.45, 0.5});
}

// Slipping: the feet slide away, the body drops almost straight down onto
// the buttocks turning 25 degrees back, then the trunk tips over onto the
// back.
void BackwardFall(Sensor* s)
{
    const Vec3 back = Scale(kAxisX, -1.0);
    Fall(s, FallShape{back, 25.0, 0.08, 0.50, 0.20, 2.2, 4.5, kForward, 0.30, 0.1});
    Fall(s, FallShape{back, 65.0, 0.20, 0.30, 0.80, 1.5, 2.0, kForward, 0.20, 0.5});
}

// Toppling sideways onto the hip (to the sensor's +X side).
void LateralFall(Sensor* s)
{
    Fall(s, FallShape{kAxisZ, 90.0, 0.25, 0.50, 0.35, 1.6, 5.0, Vec3{-1.0, 0.0, 0.0}, 0.50, 0.5});
}

// A stumble onto the knees (a first fall, turning 40 degrees forward,
// with a hard knee impact), then the trunk goes on down to the floor in a
// second drop that starts right after the first impact.
void DoubleFall(Sensor* s)
{
    Fall(s, FallShape{kAxisX, 40.0, 0.25, 0.34, 0.30, 1.6, 4.6, Vec3{0.0, 0.0, 1.0}, 0.25, 0.0});
    Fall(s, FallShape{kAxisX, 50.0, 0.04, 0.30, 0.30, 1.6, 3.8, Vec3{0.0, 0.0, 1.0}, 0.40, 0.5});
}

void BuildStanding(Sensor* s)
{
    Still(s, kQuietStart);
    Still(s, 16.0);
}

void BuildWalking(Sensor* s)
{
    Still(s, kQuietStart);
    Walk(s, 9.0, 1.85, 0.0);
    Walk(s, 5.0, 1.8, 180.0);
    Still(s, 2.0);
}

void BuildJump(Sensor* s)
{
    Still(s, kQuietStart);
    Jump(s);
    Still(s, 4.0);
}

void BuildSitDownHard(Sensor* s)
{
    Still(s, kQuietStart);
    SitDown(s, true);
    Still(s, 6.0);
}

void BuildFallForward(Sensor* s)
{
    Still(s, kQuietStart);
    ForwardFall(s);
    Still(s, 6.0);
}

void BuildFallBackward(Sensor* s)
{
    Still(s, kQuietStart);
    BackwardFall(s);
    Still(s, 6.0);
}

void BuildFallLateral(Sensor* s)
{
    Still(s, kQuietStart);
    LateralFall(s);
    Still(s, 6.0);
}

void BuildDoubleFall(Sensor* s)
{
    Still(s, kQuietStart);
    DoubleFall(s);
    Still(s, 6.0);
}

void BuildTumble(Sensor* s)
{
    Still(s, kQuietStart);
    Tumble(s, 1.1, 450.0);
    Still(s, 6.0);
}

// A walk of random length and pace. The draws are separate statements:
// the order in which function arguments are evaluated is left to the
// compiler, and compilers differ in it.
void RandomWalk(Sensor* s, double minSeconds, double maxSeconds, double turnDegrees)
{
    const double seconds = RngRange(&s->rng, minSeconds, maxSeconds);
    const double stepHz = RngRange(&s->rng, 1.6, 2.0);
    Walk(s, seconds, stepHz, turnDegrees);
}

// A slice of a day: standing about, walking with turns, sitting, bending
// down, lying in bed and rolling over, getting up again.
void DailyRound(Sensor* s)
{
    Rng* r = &s->rng;
    Still(s, RngRange(r, 10.0, 40.0));
    const double turn = RngRange(r, -180.0, 180.0);
    RandomWalk(s, 20.0, 60.0, turn);
    Still(s, RngRange(r, 5.0, 15.0));
    Bend(s, RngRange(r, 45.0, 70.0));
    RandomWalk(s, 10.0, 30.0, 90.0);
    SitDown(s, false);
    Still(s, RngRange(r, 40.0, 120.0));
    StandUp(s);
    RandomWalk(s, 15.0, 40.0, -90.0);
    SitDown(s, false);
    Still(s, RngRange(r, 3.0, 8.0));
    LieDown(s);
    Still(s, RngRange(r, 60.0, 150.0));
    const double side = RngUniform(r) < 0.5 ? 90.0 : -90.0;
    Roll(s, side);
    Still(s, RngRange(r, 30.0, 90.0));
    Roll(s, -side);
    Still(s, RngRange(r, 5.0, 20.0));
    SitUp(s);
    Still(s, RngRange(r, 3.0, 8.0));
    StandUp(s);
}

void BuildLongMixed(Sensor* s)
{
    Still(s, kQuietStart);
    while (s->samples.size() < 55000) {
        DailyRound(s);
    }
    // Up and about until well past sample 70,000, then the falls.
    while (s->samples.size() < 69000) {
        Walk(s, 30.0, 1.8, 120.0);
        Still(s, 20.0);
    }
    while (s->samples.size() < 70200) {
        Still(s, 2.0);
    }
    ForwardFall(s);
    Still(s, 15.0);
    Level(s, 2.5);  // getting up from the floor
    Still(s, 10.0);
    Walk(s, 10.0, 1.7, 0.0);
    Still(s, 3.0);
    DoubleFall(s);
    Still(s, 30.0);
}

const std::vector<Scenario> kScenarios = {
    {"standing", "20 s standing still", BuildStanding},
    {"walking", "4 s standing, 9 s walking, 5 s walking through a half turn, 2 s standing", BuildWalking},
    {"jump", "4 s standing, a jump on the spot (0.3 s in the air, landing 3.6 g), 4 s standing", BuildJump},
    {"sit_down_hard", "4 s standing, dropping hard onto a seat (2.4 g), 6 s seated", BuildSitDownHard},
    {"fall_forward", "4 s standing, a forward fall (turn +90 deg about X, impact 4.2 g), 6 s lying face down",
     BuildFallForward},
    {"fall_backward",
     "4 s standing, a slip backward onto the buttocks (impact 4.5 g) and over onto the back (turn -90 deg about X "
     "in all), 6 s lying on the back",
     BuildFallBackward},
    {"fall_lateral", "4 s standing, a sideways fall (turn +90 deg about Z, impact 3.8 g), 6 s lying on the side",
     BuildFallLateral},
    {"double_fall",
     "4 s standing, a stumble onto the knees (turn 40 deg, impact 4.6 g) and at once a second drop to the floor "
     "(turn 50 deg, impact 3.8 g), 6 s lying face down",
     BuildDoubleFall},
    {"tumble", "4 s standing, 1.3 s tumbling (1.25 rolls about Z), lying on the side for 6 s", BuildTumble},
    {"long_mixed",
     "about 25 minutes of standing, walking, sitting, bending, lying in bed and getting up, then after sample "
     "70,000 a forward fall, getting up, and a double fall",
     BuildLongMixed},
};

}  // namespace

const std::vector<Scenario>& Scenarios()
{
    return kScenarios;
}

const Scenario* FindScenario(const std::string& name)
{
    for (const Scenario& sc : kScenarios) {
        if (name == sc.name) {
            return &sc;
        }
    }
    return nullptr;
}

Recording MakeRecording(const Scenario& scenario)
{
    Sensor sensor = SensorStart(SeedFromText(scenario.name));
    scenario.build(&sensor);
    return Recording{scenario.name, scenario.description, sensor.samples};
}

}  // namespace recgen
