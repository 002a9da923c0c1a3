// A message bus of a test's own, for tests of what talks D-Bus: a dbus-daemon listening on a
// socket in a fresh folder, that anyone may own any name on.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace talvori::testing {

// A message bus of the test's own: dbus-daemon with a configuration that lets anyone own any
// name, listening on a socket in a fresh folder. Stopped (by process id) and removed at the end.
class PrivateBus {
 public:
  PrivateBus() {
    char folder[] = "/tmp/talvori-bus-XXXXXX";
    folder_ = ::mkdtemp(folder);
    address_ = "unix:path=" + (folder_ / "socket").string();
    std::ofstream(folder_ / "bus.conf")
        << "<busconfig><type>session</type><listen>" << address_ << "</listen>"
        << "<auth>EXTERNAL</auth><policy context=\"default\">"
        << "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        << "<allow own=\"*\"/></policy></busconfig>\n";
    const std::string config = "--config-file=" + (folder_ / "bus.conf").string();
    // The bus ends with the test's main thread, even when the test dies without cleaning up.
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl("/usr/bin/dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 400 && pid_ > 0 && !std::filesystem::exists(folder_ / "socket"); ++i) {
      ::usleep(25000);
    }
  }

  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGCONT);
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove_all(folder_);
  }

  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const { return address_; }

  // Stops the bus daemon (SIGSTOP) and lets it go on (SIGCONT): stopped, it still takes
  // connections, as the kernel queues them, but answers nothing.
  void freeze() { ::kill(pid_, SIGSTOP); }
  void thaw() { ::kill(pid_, SIGCONT); }

  // How many connections have been made to the bus, taken by the daemon or still queued for it
  // (as when it is stopped): the kernel lists each under the bus's socket path.
  int connections() const {
    const std::string path = address_.substr(address_.find('=') + 1);
    std::ifstream table("/proc/net/unix");
    int sockets = 0;
    for (std::string line; std::getline(table, line);) {
      sockets += line.size() > path.size() && line.ends_with(" " + path);
    }
    return sockets - 1;  // the daemon's own listening socket
  }

 private:
  std::filesystem::path folder_;
  std::string address_;
  pid_t pid_ = -1;
};

}  // namespace talvori::testing
