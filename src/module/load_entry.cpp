// The module's only export: the host calls IDL_Load once after opening it.
#include "module/host_api.h"
#include "module/messages.h"
#include "module/shells.h"

namespace {

IDL_SYSFUN_DEF2 routine_record(IDL_SYSRTN_PRO pro, Routine routine, unsigned short args) {
  IDL_SYSFUN_DEF2 record{};
  record.funct_addr.pro = pro;
  record.name = const_cast<char*>(routine_name(routine));
  record.arg_min = args;
  record.arg_max = args;
  record.flags = 0;
  record.extra = nullptr;
  return record;
}

// Registered one at a time, in this order.
IDL_SYSFUN_DEF2 routine_table[kRoutineCount] = {
    routine_record(AZIMUTHIMAGEPLATE, Routine::azimuth, 3),
    routine_record(DISTORTIMAGEPLATE, Routine::distort, 6),
    routine_record(UNPCK, Routine::unpck, 2),
    routine_record(INTEGRATE, Routine::integrate, 6),
    routine_record(INTEGRATE_MEDIAN, Routine::integrate_median, 6),
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int IDL_Load(void) {
  if (define_messages() == nullptr) return 0;
  for (IDL_SYSFUN_DEF2& record : routine_table) {
    if (IDL_SysRtnAdd(&record, 0, 1) == 0) return 0;
  }
  return 1;
}
