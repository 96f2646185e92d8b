// The program's files: opened by plain name with status "UNKNOWN" (an existing file is used as
// it is, a missing one created empty), read in blocks or written record by record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro {

inline constexpr std::string_view input_file_name = "Tessaro-net.txt";
inline constexpr std::string_view results_file_name = "Tessaro-res.txt";
inline constexpr std::string_view log_file_name = "Log file.txt";
inline constexpr std::string_view branch_table_file_name = "Tessaro-branches.csv";
inline constexpr std::string_view node_table_file_name = "Tessaro-nodes.csv";
inline constexpr std::string_view picture_file_name = "Tessaro-net.svg";

// Opens a file with status "UNKNOWN", trying read-write, then read-only, then write-only.
// Returns the descriptor; a file that cannot be opened ends the run with an OPEN failure.
int open_unknown(std::string_view name);

// An input file read byte by byte from blocks. A file whose last line has no line end reads as
// if it had one: a line feed is supplied after its last character.
class InputFile {
 public:
  explicit InputFile(std::string_view name) : name_(name) {}
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens the file at its first line (again, if it was open before).
  void open();
  // Opens an existing file for reading only, creating and changing nothing; a missing file ends
  // with the OPEN failure of the run.
  void open_read_only();
  void close();
  bool is_open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }

  // The next byte, or end_of_file when the file (and its supplied final line feed) is used up.
  // A read error of the operating system ends the run with F6500.
  static constexpr int end_of_file = -1;
  int get() {
    if (next_ < end_) return static_cast<unsigned char>(*next_++);
    return refill();
  }
  // Copies the bytes that follow in the current block to `out`, up to the first for which
  // ends(byte) holds, the end of the block or `room` bytes; returns how many it copied. The
  // bytes it leaves are read by get() as before.
  template <class Ends>
  int take_until(char* out, int room, Ends ends) {
    const char* const start = next_;
    const char* const limit = end_ - next_ > room ? next_ + room : end_;
    const char* p = next_;
    while (p < limit && !ends(*p)) *out++ = *p++;
    next_ = p;
    return static_cast<int>(p - start);
  }
  // Passes over the rest of the current line, its line feed included, or to the end of the file.
  void skip_line();

  // Where the reading stands: the number of the current line (the first is 1) and the column of
  // the byte get() returned last (the first of a line is 1). The reader calls note_line_end when
  // it has taken a line feed, so the line count costs one step per line.
  std::int64_t line() const { return line_; }
  std::int64_t column() const { return position() - line_start_; }
  void note_line_end() {
    ++line_;
    line_start_ = position();
  }

 private:
  int refill();
  void start_reading();
  // Bytes of the file taken so far.
  std::int64_t position() const { return block_start_ + (next_ - buffer_); }

  std::string name_;
  int fd_ = -1;
  static constexpr std::size_t block_size = 1 << 16;
  char* buffer_ = nullptr;
  const char* next_ = nullptr;
  const char* end_ = nullptr;
  bool at_end_ = false;
  bool last_was_line_feed_ = true;
  std::int64_t block_start_ = 0;  // file offset of buffer_[0]
  std::int64_t line_ = 1;
  std::int64_t line_start_ = 0;  // file offset of the current line's first byte
};

// An output file written in records. Opening never empties the file; the first record written
// cuts it at the write position (the start), so a file that receives a record holds only this
// run's records, and a file that receives none keeps its contents.
class OutputFile {
 public:
  explicit OutputFile(std::string_view name) : name_(name) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void open();
  // Writes what is buffered and closes the file.
  void close();
  bool is_open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }

  // Keeps the records written to this unit, which is never opened, in memory until a file takes
  // them (take_held): records formatted apart from the file they belong to.
  void hold() { held_ = true; }

  // Appends one record and its CR LF. A failed write ends the run with a WRITE failure.
  void write_record(std::string_view text);
  // Writes what is buffered.
  void flush();
  // Writes what is buffered, then the records that the held unit `part` keeps, which it then no
  // longer keeps.
  void take_held(OutputFile& part);

 private:
  std::string name_;
  int fd_ = -1;
  bool written_ = false;
  bool held_ = false;
  std::string buffer_;
};

// Closes every output file that is still open, writing its buffered records first. Does not
// throw: a write that fails now is dropped, the run is ending anyway.
void close_open_files() noexcept;

}  // namespace tessaro
