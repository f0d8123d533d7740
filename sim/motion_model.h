// The virtual controller's axes: where they are and how they move, on the
// virtual clock.
#pragma once

#include <cstdint>

namespace orvex::sim {

using Microseconds = std::uint64_t;

struct AxisState {
  double position = 0.0;  // controller units
  double velocity = 0.0;  // units per second, signed
  double target = 0.0;
  double speed = 1000.0;          // "VA": units per second
  double acceleration = 50000.0;  // "AC": units per second squared; 0 means at once
  bool moving = false;
};

// One axis moving towards its target with a trapezoidal speed profile:
// accelerate up to the set speed, cruise, and brake so as to stop on the
// target.
class MotionAxis {
 public:
  const AxisState& State() const { return state_; }

  void MoveTo(double target, Microseconds now);
  void MoveBy(double distance, Microseconds now);
  void SetSpeed(double speed) { state_.speed = speed; }
  void SetAcceleration(double acceleration) { state_.acceleration = acceleration; }
  void Stop(Microseconds now);
  void DefineHome(Microseconds now);  // stops the axis where it is and calls that zero
  void AdvanceTo(Microseconds now);
  void Reset();

 private:
  void Step(double seconds);
  void Arrive();
  double VelocityToward(double remaining, double seconds) const;

  AxisState state_;
  Microseconds updated_at_ = 0;
};

}  // namespace orvex::sim
