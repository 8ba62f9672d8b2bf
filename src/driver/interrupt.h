// Catching the signals that end a run from the terminal or a service
// manager (SIGINT, SIGTERM, SIGHUP) while the run holds something of the
// host's that it must give back: the signal is noted instead of ending the
// run, the run gives back what it holds, and then ends by the same signal.
#pragma once

#include <signal.h>

class InterruptCatcher {
 public:
  InterruptCatcher();   // notes the signals from now on
  ~InterruptCatcher();  // puts back the handlers that were there
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // The signal that came since, or 0.
  int caught() const;
  // Puts back the handlers and sends the caught signal again, which ends
  // the run as the signal would have.
  void endByCaughtSignal();

 private:
  struct sigaction previous_[3] = {};
};
