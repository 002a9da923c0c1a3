#include "platform/sentences/model_download.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace talvori {

namespace {

constexpr std::string_view kTemporarySuffix = ".part";
constexpr int kRedirectsFollowed = 10;
constexpr std::size_t kChunk = 256 * 1024;

// An open file descriptor, closed when it goes.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Descriptor() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A temporary file of ours: its path, and a descriptor that holds its lock.
struct Temporary {
  std::string path;
  Descriptor fd;

  // Removes the file: the name first, then the lock goes with the descriptor.
  void remove() {
    if (!fd) return;
    ::unlink(path.c_str());
    fd.reset();
  }
};

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Creates a new temporary for the file named `name` in `folder`, exclusively, and locks it. The
// lock is taken after the file exists, so a process cleaning stale temporaries may take it first
// and remove the file; hence the check that the name still leads to our file, and another try.
std::optional<Temporary> createTemporary(const std::filesystem::path& folder,
                                         const std::string& name) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string pattern =
        (folder / ("." + name + ".XXXXXX" + std::string(kTemporarySuffix))).string();
    Descriptor fd(
        ::mkostemps(pattern.data(), static_cast<int>(kTemporarySuffix.size()), O_CLOEXEC));
    if (!fd) return std::nullopt;
    struct stat opened {};
    struct stat named {};
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.get(), &opened) == 0 &&
        opened.st_nlink > 0 && ::lstat(pattern.c_str(), &named) == 0 && sameFile(opened, named)) {
      return Temporary{std::move(pattern), std::move(fd)};
    }
  }
  return std::nullopt;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Decompresses the gzip data in `in` (one or more members, nothing else) into `out`.
bool gunzip(int in, int out) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return false;
  std::vector<unsigned char> input(kChunk);
  std::vector<unsigned char> output(kChunk);
  off_t offset = 0;
  bool inputEnded = false;
  int status = Z_OK;
  bool ok = true;
  while (ok) {
    if (stream.avail_in == 0 && !inputEnded) {
      const ssize_t got = ::pread(in, input.data(), input.size(), offset);
      if (got < 0) {
        ok = errno == EINTR;
        continue;
      }
      inputEnded = got == 0;
      offset += got;
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    if (status == Z_STREAM_END) {
      if (stream.avail_in == 0) {
        if (inputEnded) break;
        continue;
      }
      // Another member follows.
      ok = inflateReset(&stream) == Z_OK;
      status = Z_OK;
      continue;
    }
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    status = inflate(&stream, Z_NO_FLUSH);
    // Without progress, only more input may help; at the end of the input the data is cut short.
    ok = status == Z_BUF_ERROR ? stream.avail_in == 0 && !inputEnded
                               : status == Z_OK || status == Z_STREAM_END;
    const std::size_t produced = output.size() - stream.avail_out;
    ok = ok && writeAll(out, reinterpret_cast<const char*>(output.data()), produced);
  }
  inflateEnd(&stream);
  return ok && status == Z_STREAM_END;
}

// Makes the temporary the file `to`, durably: its bytes reach the disk before the rename,
// and the rename before the answer.
bool publish(Temporary& temporary, const std::filesystem::path& folder,
             const std::filesystem::path& to) {
  if (::fsync(temporary.fd.get()) != 0 || ::fchmod(temporary.fd.get(), 0644) != 0 ||
      ::rename(temporary.path.c_str(), to.c_str()) != 0) {
    return false;
  }
  temporary.fd.reset();
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return directory && ::fsync(directory.get()) == 0;
}

// The worker thread's part: the checked download in `downloaded` becomes the file `name` in
// `folder`, decompressed first when `gzip`. Every temporary is gone afterwards.
bool installFile(Temporary downloaded, const std::filesystem::path& folder, const std::string& name,
                 bool gzip) {
  const std::filesystem::path target = folder / name;
  bool ok = false;
  if (!gzip) {
    ok = publish(downloaded, folder, target);
  } else if (std::optional<Temporary> unpacked = createTemporary(folder, name)) {
    ok = gunzip(downloaded.fd.get(), unpacked->fd.get()) && publish(*unpacked, folder, target);
    if (!ok) unpacked->remove();
  }
  downloaded.remove();
  return ok;
}

}  // namespace

// One transfer, as a Qt object so that the network reply's signals and the quiet timer reach it
// on the main thread. It lives until its ModelDownload is gone and its worker, if any, is done.
class ModelDownload::Transfer final : public QObject {
 public:
  Transfer(QNetworkAccessManager& network, ModelFile file, std::filesystem::path folder,
           std::chrono::milliseconds quietLimit, Received received, Done done)
      : network_(network),
        file_(std::move(file)),
        folder_(std::move(folder)),
        received_(std::move(received)),
        done_(std::move(done)),
        hash_(QCryptographicHash::Sha256) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(quietLimit);
    connect(&quiet_, &QTimer::timeout, this, [this] { finish(false); });
  }

  void start() {
    temporary_ = createTemporary(folder_, file_.name);
    if (!temporary_) {
      QMetaObject::invokeMethod(
          this, [this] { finish(false); }, Qt::QueuedConnection);
      return;
    }
    QNetworkRequest request(QUrl(QString::fromStdString(file_.url), QUrl::StrictMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kRedirectsFollowed);
    // The bytes as stored, so that their digest is the one published: with Qt's default it would
    // undo a content encoding the server chose to add.
    request.setRawHeader("Accept-Encoding", "identity");
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] { checkHeaders(); });
    connect(reply_, &QNetworkReply::readyRead, this, [this] { take(); });
    connect(reply_, &QNetworkReply::finished, this, [this] { end(); });
    quiet_.start();
  }

  // For the ModelDownload going away: nothing more is reported, and the transfer ends.
  void abandon() {
    received_ = nullptr;
    done_ = nullptr;
    abandoned_ = true;
    if (working_) return;  // deleted when the worker's result arrives
    stop();
    deleteLater();
  }

 private:
  bool statusIs200() const {
    return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
  }

  void checkHeaders() {
    if (finished_ || refused_) return;
    quiet_.start();
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A redirect that is being followed is not the answer yet.
    if (!status.isValid() || (status.toInt() >= 300 && status.toInt() < 400)) return;
    if (status.toInt() != 200) return refuse();
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toULongLong() != file_.size) refuse();
  }

  // Fails the transfer once Qt is done with the headers it is reporting: ending the reply from
  // inside that report would make Qt report an error twice.
  void refuse() {
    if (refused_) return;
    refused_ = true;
    QMetaObject::invokeMethod(
        this, [this] { finish(false); }, Qt::QueuedConnection);
  }

  // Writes what has arrived to the temporary, and hashes it.
  void take() {
    if (finished_ || refused_) return;
    if (!statusIs200()) return refuse();
    char buffer[64 * 1024];
    while (reply_->bytesAvailable() > 0) {
      const qint64 got = reply_->read(buffer, sizeof buffer);
      if (got <= 0) break;
      bytes_ += static_cast<std::uint64_t>(got);
      if (bytes_ > file_.size ||
          !writeAll(temporary_->fd.get(), buffer, static_cast<std::size_t>(got))) {
        return finish(false);
      }
      hash_.addData(QByteArrayView(buffer, got));
    }
    quiet_.start();
    if (received_) received_(bytes_);
  }

  void end() {
    if (finished_ || refused_) return;
    take();
    if (finished_) return;
    if (reply_->error() != QNetworkReply::NoError || !statusIs200() || bytes_ != file_.size ||
        hash_.result().toHex().toStdString() != file_.sha256) {
      return finish(false);
    }
    quiet_.stop();
    dropReply();
    // Decompressing tens of megabytes and flushing them to disk would hold up the event loop.
    try {
      std::thread([self = QPointer<Transfer>(this), downloaded = std::move(*temporary_),
                   folder = folder_, name = file_.name, gzip = file_.gzip]() mutable {
        const bool ok = installFile(std::move(downloaded), folder, name, gzip);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, ok] {
              if (self) self->workerDone(ok);
            },
            Qt::QueuedConnection);
      }).detach();
    } catch (const std::system_error&) {
      // No thread to be had: the temporary, unlocked now, goes with the next install's cleaning.
      return finish(false);
    }
    working_ = true;
    temporary_.reset();
  }

  void workerDone(bool ok) {
    working_ = false;
    if (abandoned_) {
      deleteLater();
      return;
    }
    finish(ok);
  }

  void dropReply() {
    if (reply_ == nullptr) return;
    reply_->disconnect(this);
    if (reply_->isRunning()) reply_->abort();
    reply_->deleteLater();
    reply_ = nullptr;
  }

  // Ends the transfer without an answer: the request is cancelled and the temporary removed.
  void stop() {
    quiet_.stop();
    dropReply();
    if (temporary_) temporary_->remove();
    temporary_.reset();
  }

  // Answers, last: the answer may destroy the ModelDownload, which abandons this transfer.
  void finish(bool installed) {
    if (finished_) return;
    finished_ = true;
    stop();
    received_ = nullptr;
    if (auto done = std::exchange(done_, nullptr)) done(installed);
  }

  QNetworkAccessManager& network_;
  const ModelFile file_;
  const std::filesystem::path folder_;
  Received received_;
  Done done_;
  QCryptographicHash hash_;
  QTimer quiet_;
  QPointer<QNetworkReply> reply_;
  std::optional<Temporary> temporary_;
  std::uint64_t bytes_ = 0;
  bool finished_ = false;
  bool refused_ = false;  // failing, at the next turn of the event loop
  bool working_ = false;
  bool abandoned_ = false;
};

ModelDownload::ModelDownload(QNetworkAccessManager& network, ModelFile file,
                             std::filesystem::path folder, std::chrono::milliseconds quietLimit,
                             Received received, Done done)
    : transfer_(new Transfer(network, std::move(file), std::move(folder), quietLimit,
                             std::move(received), std::move(done))) {}

ModelDownload::~ModelDownload() { transfer_->abandon(); }

void ModelDownload::start() { transfer_->start(); }

bool isModelTemporary(std::string_view name) {
  return name.size() > 1 + kTemporarySuffix.size() && name.front() == '.' &&
         name.ends_with(kTemporarySuffix);
}

void removeStaleTemporaries(const std::filesystem::path& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (!isModelTemporary(entry.path().filename().string())) continue;
    const std::string path = entry.path().string();
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    struct stat named {};
    // Whoever writes a temporary holds its lock; one that can be locked is nobody's.
    if (fd && ::fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        sameFile(opened, named)) {
      ::unlink(path.c_str());
    }
  }
}

}  // namespace talvori
