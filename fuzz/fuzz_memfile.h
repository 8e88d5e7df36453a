#pragma once
// The fuzz input as a file the code under test can open by path, kept in memory (memfd_create)
// so that a run never writes to disk: "/proc/self/fd/N" names it while the object lives.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

class MemFile {
 public:
  MemFile(const std::uint8_t* data, std::size_t size) {
    fd_ = memfd_create("kestrel_fuzz", MFD_CLOEXEC);
    if (fd_ < 0) return;
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
      done += static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  bool Ok() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};
