// The virtual controller's axes: where they are and how they move, on the
// virtual clock.
#pragma once

#include <array>
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
//
// Plain data of fixed widths (card_state.h says why).
class MotionAxis {
 public:
  AxisState State() const;

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

  // AxisState with its flag as a byte.
  struct Stored {
    double position = 0.0;
    double velocity = 0.0;
    double target = 0.0;
    double speed = AxisState{}.speed;
    double acceleration = AxisState{}.acceleration;
    Microseconds updated_at = 0;
    std::uint8_t moving = 0;
    std::array<std::uint8_t, 7> padding{};
  };

  Stored state_;
};

}  // namespace orvex::sim
