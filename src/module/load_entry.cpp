// The module's only export: the host calls IDL_Load once after opening it.
#include "module/host_api.h"
#include "module/messages.h"
#include "module/routine_table.h"

namespace {

// The host keeps the records it is given, so they live as long as the module.
IDL_SYSFUN_DEF2 records[kRoutineCount];

IDL_SYSFUN_DEF2 record_of(const RoutineFacts& routine) {
  IDL_SYSFUN_DEF2 record{};
  record.funct_addr.pro = routine.shell;
  record.name = const_cast<char*>(routine.name);
  record.arg_min = routine.arguments;
  record.arg_max = routine.arguments;
  record.flags = 0;
  record.extra = nullptr;
  return record;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int IDL_Load(void) {
  if (define_messages() == nullptr) return 0;
  // Registered one at a time, in the table's order.
  for (int k = 0; k < kRoutineCount; ++k) {
    records[k] = record_of(kRoutines[k]);
    if (IDL_SysRtnAdd(&records[k], 0, 1) == 0) return 0;
  }
  return 1;
}
