#include "motion_model.h"

#include <algorithm>
#include <cmath>

namespace orvex::sim {
namespace {

// A moving axis is updated once a millisecond, as a servo loop would, on a
// grid that starts when the move starts. Steps of one fixed length make the
// motion the same however often, and at whatever irregular times, the host
// looks: steps of varying length would start the braking early or late.
constexpr Microseconds kServoPeriod = 1000;

}  // namespace

void MotionAxis::MoveTo(double target, Microseconds now) {
  AdvanceTo(now);
  state_.target = target;
  // A controller told to move at zero speed does not start.
  state_.moving = state_.speed > 0.0 && target != state_.position ? 1 : 0;
}

void MotionAxis::MoveBy(double distance, Microseconds now) {
  AdvanceTo(now);
  MoveTo((state_.moving != 0 ? state_.target : state_.position) + distance, now);
}

void MotionAxis::Stop(Microseconds now) {
  AdvanceTo(now);
  state_.target = state_.position;
  state_.velocity = 0.0;
  state_.moving = 0;
}

void MotionAxis::DefineHome(Microseconds now) {
  Stop(now);
  state_.position = 0.0;
  state_.target = 0.0;
}

void MotionAxis::Reset() {
  state_ = Stored{};
}

AxisState MotionAxis::State() const {
  return {state_.position, state_.velocity,     state_.target,
          state_.speed,    state_.acceleration, state_.moving != 0};
}

void MotionAxis::AdvanceTo(Microseconds now) {
  while (state_.moving != 0 && state_.updated_at + kServoPeriod <= now) {
    Step(static_cast<double>(kServoPeriod) / 1e6);
    state_.updated_at += kServoPeriod;
  }
  // An axis at rest has nothing to integrate, however long it rested, and
  // its next move starts its own grid.
  if (state_.moving == 0) state_.updated_at = std::max(state_.updated_at, now);
}

double MotionAxis::VelocityToward(double remaining, double seconds) const {
  const double direction = remaining > 0.0 ? 1.0 : -1.0;
  const double acceleration = state_.acceleration;
  if (acceleration <= 0.0) return direction * state_.speed;
  const double stopping_distance = state_.velocity * state_.velocity / (2.0 * acceleration);
  const bool heading_there = state_.velocity * direction > 0.0;
  if (heading_there && std::fabs(remaining) <= stopping_distance) {
    const double slower = std::fabs(state_.velocity) - acceleration * seconds;
    // Never slower than one step's worth of braking, so the axis always arrives.
    return direction * std::max(slower, acceleration * seconds);
  }
  const double faster = state_.velocity + direction * acceleration * seconds;
  return std::clamp(faster, -state_.speed, state_.speed);
}

void MotionAxis::Step(double seconds) {
  const double remaining = state_.target - state_.position;
  state_.velocity = VelocityToward(remaining, seconds);
  const double travel = state_.velocity * seconds;
  const bool reaches = std::fabs(travel) >= std::fabs(remaining) && travel * remaining >= 0.0;
  if (reaches) {
    Arrive();
  } else {
    state_.position += travel;
  }
}

void MotionAxis::Arrive() {
  state_.position = state_.target;
  state_.velocity = 0.0;
  state_.moving = 0;
}

}  // namespace orvex::sim
