// stand_in_worker: takes the copy worker's place where a test must look at a worker that runs. It
// does nothing and waits until it is killed, or until the test that started it ends.
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include "tests/app/started_as.h"

int main() {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // Now it holds only what it was given: the test may look.
  ::prctl(PR_SET_NAME, testing_support::kStandInReady);
  for (;;) ::pause();
}
