// The module's message block "vok" and the one way its messages are issued.
#pragma once

#include "module/host_api.h"
#include "module/routine_table.h"

// Message codes: the position in the table, counted 0, -1, -2, ...
enum MessageCode : int {
  kGreeting = 0,
  kEnd = -1,
  kDistortGreet = -2,
  kAzimGreet = -3,
  kTchGreet = -4,
  kTruncated = -5,
  kOutType = -6,
  kShortArray = -7,
};
constexpr int kMessageCount = 8;

// Defines the block in the host and keeps its handle; null when refused.
IDL_MSG_BLOCK define_messages();

// Prints one message of the block as an informational line. The finished
// line ("UNPCK: Welcome ...") travels as the one format argument: a host that
// formats from the block ignores it, a host that prints its argument shows it.
void issue_message(int code, Routine caller);

// The finished text of a message as issued by a routine, without "% ".
const char* finished_message(int code, Routine caller);

// The block's table, for checks against the host.
const IDL_MSG_DEF* message_table();
