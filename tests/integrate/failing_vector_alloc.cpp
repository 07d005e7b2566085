#include "integrate/failing_vector_alloc.h"

#include <dlfcn.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_vector.h>

namespace {

int calls_made = 0;
int call_to_fail = 0;

}  // namespace

namespace failing_vector_alloc {

void fail_call(int k) {
  calls_made = 0;
  call_to_fail = k;
}

int calls() {
  return calls_made;
}

}  // namespace failing_vector_alloc

extern "C" gsl_vector* gsl_vector_alloc(const size_t n) {
  ++calls_made;
  if (calls_made == call_to_fail) {
    GSL_ERROR_NULL("allocation refused for the test", GSL_ENOMEM);
  }
  using Alloc = gsl_vector* (*)(size_t);
  static const Alloc gsl_alloc = reinterpret_cast<Alloc>(dlsym(RTLD_NEXT, "gsl_vector_alloc"));
  return gsl_alloc(n);
}
