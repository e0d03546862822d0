// A stand-in for pmset that prints a MacBook's `pmset -g` report and nothing else, so the
// benchmark measures the backend rather than a shell.
#include <unistd.h>

int main() {
  static const char report[] =
      "System-wide power settings:\n"
      " SleepDisabled\t\t1\n"
      "Currently in use:\n"
      " standby              1\n"
      " Sleep On Power Button 1\n"
      " hibernatefile        /var/vm/sleepimage\n"
      " powernap             1\n"
      " networkoversleep     0\n"
      " disksleep            10\n"
      " sleep                1 (sleep prevented by powerd, coreaudiod)\n"
      " hibernatemode        3\n"
      " ttyskeepawake        1\n"
      " displaysleep         10\n"
      " tcpkeepalive         1\n"
      " lowpowermode         0\n"
      " womp                 0\n";
  return write(STDOUT_FILENO, report, sizeof report - 1) < 0 ? 1 : 0;
}
