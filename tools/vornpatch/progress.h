// A progress bar on stderr for work that takes more than about a second. It draws only when
// stderr is a terminal, so redirected output and logs never receive it.
#pragma once

#include <string>

#include "core/types.h"

class Progress {
 public:
  Progress(const char* label, u64 total);
  ~Progress();

  void Advance(u64 amount);
  // Erases the bar (before a message is printed, and at the end).
  void Clear();
  // Erases the bar of the Progress alive now, if any; the reports of messages.h call it, so a
  // message never lands behind a bar.
  static void ClearCurrent();

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void Draw(u64 now);

  std::string label_;
  u64 total_;
  u64 done_ = 0;
  bool enabled_;
  bool drawn_ = false;
  u64 start_;
  u64 lastDraw_ = 0;
  u64 delay_;
  Progress* outer_;  // the Progress that was current before this one
};
