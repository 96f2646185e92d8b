#include "model/table.h"

#include "textio/run_end.h"

namespace tessaro {

void fail_table_storage() {
  fail_run('F', 6772, tag_storage, {}, "insufficient memory for a table");
}

}  // namespace tessaro
