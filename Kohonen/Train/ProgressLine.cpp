#include "Kohonen/Train/ProgressLine.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace mapsmith {

namespace {

std::string Speed(double perSecond) {
  char text[32];
  if (perSecond >= 100.0)
    std::snprintf(text, sizeof text, "%.0f", perSecond);
  else
    std::snprintf(text, sizeof text, "%.3g", perSecond);
  return text;
}

std::string Duration(double seconds) {
  const long long s = static_cast<long long>(std::ceil(seconds));
  char text[48];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string ProgressText(long long done, long long total, double seconds, const char* unit) {
  const long long percent = total > 0 ? done * 100 / total : 100;
  std::string text = "Training " + std::string(percent < 10 ? "  " : percent < 100 ? " " : "") +
                     std::to_string(percent) + "%  ";
  if (done > 0 && seconds > 0.0) {
    const double speed = static_cast<double>(done) / seconds;
    text += Speed(speed) + " " + unit + "/s  " + Duration(static_cast<double>(total - done) / speed) + " left";
  } else {
    text += std::string("-- ") + unit + "/s  -- left";
  }
  return text;
}

ProgressLine::ProgressLine(std::ostream& err, const char* unit, std::function<double()> clock)
    : err_(err), unit_(unit), clock_(std::move(clock)), start_(clock_()) {}

void ProgressLine::Update(long long done, long long total) {
  const double now = clock_();
  if (done < total && lastDrawn_ >= 0.0 && now - lastDrawn_ < 0.1) return;
  lastDrawn_ = now;
  std::string text = ProgressText(done, total, now - start_, unit_);
  const std::size_t width = text.size();
  if (width < width_) text.append(width_ - width, ' ');  // cover the longer text before
  width_ = width;
  err_ << '\r' << text << std::flush;
}

void ProgressLine::Finish() {
  if (lastDrawn_ >= 0.0) err_ << '\n' << std::flush;
  lastDrawn_ = -1.0;
}

}  // namespace mapsmith
