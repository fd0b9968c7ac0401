#include "monitor/syxfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace korvane {

std::string InOutErrorText(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    default:
      return "I/O error " + std::to_string(code);
  }
}

EInOutError::EInOutError(int code) : std::runtime_error(InOutErrorText(code)), ErrorCode(code) {}

int InOutCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return 2;
    case ENAMETOOLONG:
    case ENOTDIR:
    case EISDIR:
    case EINVAL:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return 5;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return 101;
    case EIO:
      // A failing device. Its errno, 5, is the number of "File access
      // denied", so it takes the hardware-failure code instead.
      return 162;
    default:
      return err;
  }
}

namespace {
[[noreturn]] void ThrowErrno() {
  throw EInOutError(InOutCodeFromErrno(errno));
}
}  // namespace

std::string SyxFilePath(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.find_last_of('.');
  std::string extension;
  if (dot != std::string::npos && dot >= componentStart) extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".syx" ? name : name + ".syx";
}

namespace {
// Opened without waiting, so a named pipe that nobody serves cannot hang the
// window; the reads and writes after it wait as usual.
int OpenWithoutWaiting(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) ThrowErrno();
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}
}  // namespace

SyxFile SyxFile::Create(const std::string& path) {
  return SyxFile(OpenWithoutWaiting(path, O_WRONLY | O_CREAT | O_TRUNC));
}

SyxFile SyxFile::OpenForReading(const std::string& path) {
  int fd = OpenWithoutWaiting(path, O_RDONLY);
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw EInOutError(5);
  }
  return SyxFile(fd);
}

SyxFile::SyxFile(SyxFile&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

SyxFile::~SyxFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::uint64_t SyxFile::Size() const {
  struct stat info;
  if (::fstat(fd_, &info) != 0) ThrowErrno();
  return static_cast<std::uint64_t>(info.st_size);
}

void SyxFile::Write(const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    ssize_t n = ::write(fd_, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno();
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
}

void SyxFile::Read(std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    ssize_t n = ::read(fd_, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno();
    }
    if (n == 0) throw EInOutError(100);  // the file shrank under us
    data += n;
    count -= static_cast<std::size_t>(n);
  }
}

void SyxFile::Close() {
  int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) ThrowErrno();
}

}  // namespace korvane
