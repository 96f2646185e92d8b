// Feeds arbitrary bytes to the reader's requests. The first byte chooses the targets of every
// request (the program's own line shapes and a few mixtures); the other bytes are the input
// file. Requests follow one another until the file ends the run, as every file eventually does:
// each request consumes at least one character. Every request must fill its targets with finite
// values or end with one of the reader's own failure reports; a floating-point trap inside the
// reader (traps are set as in a run) or any other outcome is a finding.
#include <fenv.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_folder.h"
#include "textio/files.h"
#include "textio/reader.h"
#include "textio/run_end.h"

namespace {

using namespace tessaro;

// 'f' 32-bit real, 'd' 64-bit real, 'i' 32-bit integer, 't' text of 10 characters. A key, a
// header line, the iteration-limit line, a branch record, an elevation record, then mixtures.
constexpr std::string_view target_lists[] = {"f",   "fd",   "fi",   "fitididddi",
                                             "fid", "iiii", "tttt", "dfitdfitdfit"};
constexpr int name_width = 10;

bool is_reader_failure(int number) {
  switch (number) {
    case 6100:
    case 6101:
    case 6102:
    case 6103:
    case 6104:
    case 6105:
    case 6302:
    case 6303:
    case 6500:
    case 6501:
    case 6502:
    case 6503:
    case 6504:
      return true;
    default:
      return false;
  }
}

// A reader failure: class F, one of the reader's numbers, the READ tag with the input file's
// name, and a message line of its own.
void check_failure(const RunEnd& end) {
  std::string start = failure_report('F', end.failure_number, tag_read, input_file_name, "x");
  start.resize(start.size() - std::string_view("x\r\n").size());
  const std::string& report = end.stderr_text;
  if (end.failure_class != 'F' || !is_reader_failure(end.failure_number) ||
      end.exit_status != exit_failed || !end.stdout_text.empty() || report.rfind(start, 0) != 0 ||
      report.size() <= start.size() + 2 || report.find("\r\n", start.size()) != report.size() - 2) {
    fuzz::finding("the reader ended with a report that is not its own", report);
  }
}

// One request with the given targets; every number stored must be finite.
void read_one_request(InputFile& file, std::string_view targets) {
  ReadRequest request = read_begin(file);
  for (const char target : targets) {
    float real32 = 0.0f;
    double real64 = 0.0;
    std::int32_t int32 = 0;
    // On the heap, exactly as wide as the target, so that a write past it is seen.
    const std::unique_ptr<char[]> name(new char[name_width]);
    switch (target) {
      case 'f':
        read_real32(request, real32);
        break;
      case 'd':
        read_real64(request, real64);
        break;
      case 'i':
        read_int32(request, int32);
        break;
      default:
        read_text(request, name.get(), name_width);
        break;
    }
    if (!std::isfinite(real32) || !std::isfinite(real64)) {
      fuzz::finding("the reader stored a value that is not finite");
    }
  }
  read_end(request);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_fresh_folder("reader-fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view targets = target_lists[data[0] % std::size(target_lists)];
  fuzz::write_file(std::string(input_file_name),
                   std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  InputFile file(input_file_name);
  file.open();
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  try {
    for (std::size_t request = 0; request <= size; ++request) read_one_request(file, targets);
    fuzz::finding("a request consumed no character");
  } catch (const RunEnd& end) {
    fedisableexcept(FE_ALL_EXCEPT);
    check_failure(end);
  }
  return 0;
}
