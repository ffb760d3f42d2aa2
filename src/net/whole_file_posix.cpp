// Reading a whole file with POSIX calls.

#include "net/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

TFileRead ReadWholeFile(const std::string& Path, std::size_t MaxBytes, std::string& Content, std::int32_t& Error) {
  // Without O_NONBLOCK, opening a pipe would wait for a writer.
  const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    Error = errno;
    return TFileRead::SystemError;
  }
  struct stat info {};
  TFileRead result = TFileRead::Done;
  if (fstat(fd, &info) != 0) {
    Error = errno;
    result = TFileRead::SystemError;
  } else if (!S_ISREG(info.st_mode)) {
    result = TFileRead::NotRegular;
  } else if (static_cast<std::uint64_t>(info.st_size) > MaxBytes) {
    result = TFileRead::TooLarge;
  }
  Content.clear();
  char buffer[16384];
  while (result == TFileRead::Done) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      Error = errno;
      result = TFileRead::SystemError;
    } else if (Content.size() + static_cast<std::size_t>(n) > MaxBytes) {
      result = TFileRead::TooLarge;  // the file grew while it was read
    } else {
      Content.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return result;
}
