// The five host procedures. Each converts its arguments, calls its core and
// passes the results back through the caller's own arrays.
#pragma once

#include "module/host_api.h"

void UNPCK(int argc, IDL_VPTR argv[], char* argk);
void DISTORTIMAGEPLATE(int argc, IDL_VPTR argv[], char* argk);
void AZIMUTHIMAGEPLATE(int argc, IDL_VPTR argv[], char* argk);
void INTEGRATE(int argc, IDL_VPTR argv[], char* argk);
void INTEGRATE_MEDIAN(int argc, IDL_VPTR argv[], char* argk);
