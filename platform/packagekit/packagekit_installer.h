// The package installer on PackageKit, over D-Bus.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/packagekit/package_installer.h"

namespace talvori {

struct PackageKitOptions {
  // The bus PackageKit is on: empty for the system bus, found the way the D-Bus library finds it,
  // or a D-Bus address (tests use a private bus).
  std::string busAddress;
  // An install that has heard nothing from PackageKit for this long is cancelled and fails.
  // PackageKit reports several times a second while it works; it goes quiet while the user answers
  // the password dialog, while dpkg runs its triggers (seconds), and while apt waits for a silent
  // server until apt's own network timeouts give up.
  std::chrono::milliseconds quietLimit{std::chrono::minutes(3)};
  // An install still unfinished after this long is cancelled and fails, however busy it looks.
  std::chrono::milliseconds totalLimit{std::chrono::minutes(15)};
};

// An installer that asks PackageKit to install packages: it resolves the name to the newest
// package id, then installs that id in a second transaction. Every transaction carries the
// interactive hint, so polkit asks the user with the desktop's own dialog. The bus connection is
// made on the first install and kept for the installer's life (a failed connection is tried again
// on the next install); an install fails when PackageKit's bus name loses its owner. Needs the
// Qt application object; main thread only, like the interface.
std::unique_ptr<PackageInstaller> makePackageKitInstaller(PackageKitOptions options = {});

}  // namespace talvori
