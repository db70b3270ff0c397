/* Preloaded into pure-ftpd by the FTP server fixture. Its pauses after a
   failed login cannot be switched off by any setting, and a test must not
   wait seconds for each refused password. */
#include <unistd.h>

unsigned int sleep(unsigned int seconds) {
  (void)seconds;
  return 0;
}

int usleep(useconds_t microseconds) {
  (void)microseconds;
  return 0;
}
