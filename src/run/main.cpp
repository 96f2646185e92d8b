// Tessaro: steady flow and pressure distribution of a pipe network. Reads "Tessaro-net.txt" in
// the working folder, writes "Tessaro-res.txt" and "Log file.txt".
#include <new>

#include "model/table.h"
#include "run/run.h"
#include "textio/math.h"
#include "textio/run_end.h"

int main() {
  tessaro::enable_fp_traps();
  try {
    try {
      tessaro::run_calculation();
    } catch (const std::bad_alloc&) {
      tessaro::fail_table_storage();
    }
  } catch (const tessaro::RunEnd& end) {
    tessaro::terminate_run(end);
  }
  tessaro::terminate_run(tessaro::RunEnd{});
}
