#include "progress.h"

#include <cstdio>
#include <cstdlib>

#include "os.h"

namespace {

constexpr u64 kDefaultDelayMs = 1000;
constexpr u64 kRedrawMs = 100;
constexpr int kBarWidth = 30;

u64 DelayMs() {
  // Lets the test driver see the bar without a second of work.
  const char* text = std::getenv("VORNPATCH_PROGRESS_DELAY_MS");
  if (!text || !*text) return kDefaultDelayMs;
  return std::strtoull(text, nullptr, 10);
}

Progress* g_current = nullptr;

}  // namespace

Progress::Progress(const char* label, u64 total)
    : label_(label),
      total_(total),
      enabled_(IsTerminal(stderr)),
      start_(enabled_ ? MonotonicMilliseconds() : 0),
      delay_(DelayMs()),
      outer_(g_current) {
  g_current = this;
}

Progress::~Progress() {
  Clear();
  g_current = outer_;
}

void Progress::ClearCurrent() {
  if (g_current) g_current->Clear();
}

void Progress::Advance(u64 amount) {
  done_ += amount;
  if (!enabled_) return;
  u64 now = MonotonicMilliseconds();
  if (now - start_ < delay_) return;
  if (drawn_ && now - lastDraw_ < kRedrawMs && done_ < total_) return;
  Draw(now);
}

void Progress::Draw(u64 now) {
  u64 shown = done_ < total_ ? done_ : total_;
  int percent = total_ ? static_cast<int>(shown * 100 / total_) : 100;
  int filled = total_ ? static_cast<int>(shown * kBarWidth / total_) : kBarWidth;
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = 0;
  std::fprintf(stderr, "\r%s [%s] %3d%% %8.1f MiB", label_.c_str(), bar, percent,
               static_cast<double>(done_) / (1024.0 * 1024.0));
  std::fflush(stderr);
  drawn_ = true;
  lastDraw_ = now;
}

void Progress::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarWidth + 20, "");
  std::fflush(stderr);
  drawn_ = false;
}
