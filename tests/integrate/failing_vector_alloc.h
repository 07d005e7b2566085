// A test program that links failing_vector_alloc.cpp has its own
// gsl_vector_alloc, which the program and every library it loads call instead
// of GSL's: it forwards to GSL's, except that the chosen call fails the way
// GSL reports an allocation failure (GSL_ERROR_NULL).
#pragma once

namespace failing_vector_alloc {

// Fail the k-th call from now on (counted from 1); 0 fails none.
void fail_call(int k);
// Calls since the last fail_call.
int calls();

}  // namespace failing_vector_alloc
