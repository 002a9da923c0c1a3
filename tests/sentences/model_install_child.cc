// Installs one direction with the real model store in a process of its own, for the tests that
// kill an install or fill the disk under it:
//
//   model_install_child MANIFEST MODELS DIRECTION [DISK_BYTES]
//
// MODELS is the folder installs go into. With DISK_BYTES, the direction's folder there holds at
// most that many bytes: a tmpfs of that size mounted over it in a mount namespace of this process
// (as root, or in a user namespace of its own), or failing that, a limit on the size of any file
// this process writes. Prints "disk tmpfs" or "disk file-size" for the way taken, then, once the
// install has ended, "answer FOLDER" or "answer none", "installed FOLDER" or "installed none", and
// "entry NAME" for each name in the direction's folder.
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include <QCoreApplication>

#include "platform/sentences/model_store.h"

namespace {

bool writeFile(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  return out.good();
}

// A tmpfs of `bytes` over `folder`, seen by this process only. Must run before any thread starts,
// for a user namespace.
bool mountSmallDisk(const std::filesystem::path& folder, unsigned long long bytes) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWNS) != 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    if (!writeFile("/proc/self/setgroups", "deny") ||
        !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return false;
    }
  }
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  const std::string size = "size=" + std::to_string(bytes);
  return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  const std::filesystem::path manifest = argv[1];
  const std::filesystem::path models = argv[2];
  const std::optional<talvori::SentenceDirection> direction =
      talvori::SentenceDirection::named(argv[3]);
  if (!direction) return 2;
  const std::filesystem::path folder = models / std::string(direction->folder());
  if (argc == 5) {
    const unsigned long long bytes = std::strtoull(argv[4], nullptr, 10);
    std::filesystem::create_directories(folder);
    if (mountSmallDisk(folder, bytes)) {
      std::cout << "disk tmpfs\n";
    } else {
      // Writing past the limit then fails with EFBIG instead of ending the process.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{bytes, bytes};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
      std::cout << "disk file-size\n";
    }
    std::cout.flush();
  }

  QCoreApplication application(argc, argv);
  talvori::ModelStoreOptions options;
  options.manifestPaths = {manifest};
  options.userModels = models;
  auto store = talvori::makeModelStore(options);
  store->install(*direction, [&](std::optional<std::filesystem::path> installed) {
    std::cout << "answer " << (installed ? installed->string() : "none") << "\n";
    const auto now = store->installed(*direction);
    std::cout << "installed " << (now ? now->string() : "none") << "\n";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::cout << "entry " << entry.path().filename().string() << "\n";
    }
    std::cout.flush();
    application.quit();
  });
  return application.exec();
}
