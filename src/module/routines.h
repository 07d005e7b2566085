// The module's five host procedures, in the order they are registered.
#pragma once

enum class Routine { azimuth, distort, unpck, integrate, integrate_median };
constexpr int kRoutineCount = 5;

// The host-language name of a procedure, as registered.
const char* routine_name(Routine routine);
