// The progress line MapsmithTrain draws on a terminal's standard error: how
// much is done, how fast and how long the rest will take, redrawn in place (a
// carriage return and the new text over the old) at most ten times a second.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace mapsmith {

// "Training  45%  1234 steps/s  0:12 left": percent done (rounded down), the
// speed so far in `unit` per second (3 significant digits below 100), and the
// time the rest takes at that speed (M:SS, or H:MM:SS from an hour on; "--"
// before anything is done or while no time has passed).
std::string ProgressText(long long done, long long total, double seconds, const char* unit);

class ProgressLine {
 public:
  // `clock` gives seconds from any fixed start.
  ProgressLine(std::ostream& err, const char* unit, std::function<double()> clock);
  // Redraws the line when a tenth of a second has passed since the last
  // drawing, and always for the last step (done == total).
  void Update(long long done, long long total);
  // Ends the line, if one was drawn.
  void Finish();

 private:
  std::ostream& err_;
  const char* unit_;
  std::function<double()> clock_;
  double start_;
  double lastDrawn_ = -1.0;
  std::size_t width_ = 0;  // of the text on the line now
};

}  // namespace mapsmith
