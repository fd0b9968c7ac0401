// .syx files: the raw bytes of a system-exclusive dump, no header. File
// errors carry the numbers and texts users know them by ("File not found",
// "Disk full", ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace korvane {

class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(int code);
  int ErrorCode;
};

// "File not found" (2), "Invalid filename" (3), "Too many open files" (4),
// "File access denied" (5), "Read beyond end of file" (100), "Disk full"
// (101), otherwise "I/O error <code>".
std::string InOutErrorText(int code);
// The file error number for an errno value.
int InOutCodeFromErrno(int err);

// The name the dialog returned, with ".syx" appended unless the extension of
// its last path component already is ".syx" in any letter case.
std::string SyxFilePath(const std::string& name);

// One open file, closed on every path. Reads and writes are whole blocks.
class SyxFile {
 public:
  // Creates or truncates a file for writing.
  static SyxFile Create(const std::string& path);
  // Opens an existing file for reading only.
  static SyxFile OpenForReading(const std::string& path);

  SyxFile(SyxFile&& other) noexcept;
  SyxFile& operator=(SyxFile&&) = delete;
  SyxFile(const SyxFile&) = delete;
  ~SyxFile();

  std::uint64_t Size() const;
  void Write(const std::uint8_t* data, std::size_t count);
  void Read(std::uint8_t* data, std::size_t count);
  // Reports an error that only closing reveals (data that could not be stored).
  void Close();

 private:
  explicit SyxFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace korvane
