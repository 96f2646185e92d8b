#include "textio/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>

#include "textio/run_end.h"

namespace tessaro {

namespace {

constexpr std::size_t output_block = 1 << 16;

// The output files that are open now, so that every way out of the run can close them.
std::array<OutputFile*, 4> open_outputs{};

void remember_open(OutputFile* file) {
  for (auto& slot : open_outputs) {
    if (slot == nullptr) {
      slot = file;
      return;
    }
  }
}

void forget_open(OutputFile* file) {
  for (auto& slot : open_outputs) {
    if (slot == file) slot = nullptr;
  }
}

[[noreturn]] void fail_open(std::string_view name, int error) {
  int number = 6400;
  std::string_view message = "file cannot be opened";
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      number = 6416;
      message = "file or path not found";
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      number = 6414;
      message = "access to the file denied";
      break;
    case EEXIST:
      number = 6415;
      message = "file already exists";
      break;
    case EMFILE:
    case ENFILE:
      number = 6417;
      message = "too many open files";
      break;
    case EINVAL:
    case ENAMETOOLONG:
      number = 6412;
      message = "invalid file name";
      break;
    default:
      break;
  }
  fail_run('F', number, tag_open, name, message);
}

[[noreturn]] void fail_write(std::string_view name) {
  fail_run('F', 6420, tag_write, name, "the file could not be written");
}

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

int open_unknown(std::string_view name) {
  const std::string path(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  int error = errno;
  if (fd < 0) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  }
  if (fd < 0) fail_open(name, error);
  // A folder of that name opens read-only but is no file to read or write.
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    fail_open(name, EISDIR);
  }
  return fd;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
  delete[] buffer_;
}

void InputFile::open() {
  close();
  fd_ = open_unknown(name_);
  start_reading();
}

void InputFile::open_read_only() {
  close();
  const std::string path(name_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) fail_open(name_, errno);
  struct stat status {};
  if (::fstat(fd_, &status) == 0 && S_ISDIR(status.st_mode)) {
    close();
    fail_open(name_, EISDIR);
  }
  start_reading();
}

void InputFile::start_reading() {
  if (buffer_ == nullptr) buffer_ = new char[block_size];
  next_ = end_ = buffer_;
  at_end_ = false;
  last_was_line_feed_ = true;
  block_start_ = 0;
  line_ = 1;
  line_start_ = 0;
}

void InputFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  next_ = end_ = buffer_;
}

int InputFile::refill() {
  if (at_end_ || fd_ < 0) return end_of_file;
  block_start_ += end_ - buffer_;
  next_ = end_ = buffer_;
  ssize_t got;
  do {
    got = ::read(fd_, buffer_, block_size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) fail_run('F', 6500, tag_read, name_, "the file could not be read");
  if (got == 0) {
    at_end_ = true;
    // A last line without its line end reads as if it had one.
    if (!last_was_line_feed_) {
      last_was_line_feed_ = true;
      return '\n';
    }
    return end_of_file;
  }
  next_ = buffer_;
  end_ = buffer_ + got;
  last_was_line_feed_ = end_[-1] == '\n';
  return static_cast<unsigned char>(*next_++);
}

void InputFile::skip_line() {
  for (;;) {
    if (next_ < end_) {
      const void* line_feed = std::memchr(next_, '\n', static_cast<std::size_t>(end_ - next_));
      if (line_feed != nullptr) {
        next_ = static_cast<const char*>(line_feed) + 1;
        note_line_end();
        return;
      }
      next_ = end_;
    }
    const int c = refill();
    if (c == '\n') note_line_end();
    if (c == '\n' || c == end_of_file) return;
  }
}

// A run that ends while the file is open leaves through here: the records written so far reach
// the file before it is closed, as on every other way out.
OutputFile::~OutputFile() {
  forget_open(this);
  if (fd_ < 0) return;
  try {
    flush();
  } catch (...) {
  }
  ::close(fd_);
}

void OutputFile::open() {
  fd_ = open_unknown(name_);
  written_ = false;
  buffer_.clear();
  remember_open(this);
}

void OutputFile::write_record(std::string_view text) {
  if (fd_ < 0 && !held_) fail_run('F', 6421, tag_write, name_, "the file is not open");
  buffer_ += text;
  buffer_ += "\r\n";
  if (!held_ && buffer_.size() >= output_block) flush();
}

void OutputFile::flush() {
  if (fd_ < 0 || buffer_.empty()) return;
  if (!written_) {
    // The first record written cuts the file at the write position, its start.
    if (::ftruncate(fd_, 0) != 0) fail_write(name_);
    written_ = true;
  }
  if (!write_all(fd_, buffer_)) {
    buffer_.clear();
    fail_write(name_);
  }
  buffer_.clear();
}

void OutputFile::take_held(OutputFile& part) {
  flush();
  // The part's buffer is written as this file's own; each keeps its storage for the next records.
  buffer_.swap(part.buffer_);
  flush();
  buffer_.swap(part.buffer_);
}

void OutputFile::close() {
  if (fd_ < 0) return;
  forget_open(this);
  try {
    flush();
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  if (::close(fd_) != 0) {
    fd_ = -1;
    fail_run('F', 6422, tag_close, name_, "the file could not be closed");
  }
  fd_ = -1;
}

void close_open_files() noexcept {
  for (auto& slot : open_outputs) {
    if (slot == nullptr) continue;
    OutputFile* file = slot;
    slot = nullptr;
    try {
      file->close();
    } catch (...) {
    }
  }
}

}  // namespace tessaro
