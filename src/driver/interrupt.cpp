// The signal catcher: a handler that only notes the signal number.
#include "driver/interrupt.h"

#include "driver/status_line.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t caughtSignal = 0;

void noteSignal(int signal) { caughtSignal = signal; }

}  // namespace

InterruptCatcher::InterruptCatcher() {
  caughtSignal = 0;
  struct sigaction noting = {};
  noting.sa_handler = noteSignal;
  sigemptyset(&noting.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &noting, &previous_[i]);
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
}

int InterruptCatcher::caught() const { return caughtSignal; }

void InterruptCatcher::endByCaughtSignal() {
  const int signal = caughtSignal;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  if (signal != 0) endStatusLine();
  if (signal != 0) raise(signal);
}
