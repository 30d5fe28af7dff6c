#include "platform/host/system_random.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace tw {

bool SystemRandom::randomBytes(std::uint8_t* out, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = getrandom(out + done, length - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

EntropyHints SystemRandom::entropyHints() {
  EntropyHints hints;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  hints.performanceCounter = static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
                             static_cast<std::uint64_t>(now.tv_nsec);
  hints.tickMs = hints.performanceCounter / 1000000ull;
  hints.processId = static_cast<std::uint64_t>(getpid());
  return hints;
}

}  // namespace tw
