// The host's external-development interface as a 64-bit host lays it out.
// The module is built against these declarations and must load unchanged into
// the real host, so every size and offset is pinned by a static_assert.
#pragma once

#include <cstddef>

extern "C" {

typedef unsigned char UCHAR;
typedef short IDL_INT;
typedef unsigned short IDL_UINT;
typedef int IDL_LONG;
typedef unsigned int IDL_ULONG;
typedef long long IDL_LONG64;
typedef unsigned long long IDL_ULONG64;
typedef IDL_LONG64 IDL_MEMINT;
typedef IDL_LONG64 IDL_FILEINT;
typedef int IDL_STRING_SLEN_T;
typedef IDL_MEMINT IDL_PTRINT;

// Type codes.
enum {
  IDL_TYP_UNDEF = 0,
  IDL_TYP_BYTE = 1,
  IDL_TYP_INT = 2,
  IDL_TYP_LONG = 3,
  IDL_TYP_FLOAT = 4,
  IDL_TYP_DOUBLE = 5,
  IDL_TYP_COMPLEX = 6,
  IDL_TYP_STRING = 7,
  IDL_TYP_STRUCT = 8,
  IDL_TYP_DCOMPLEX = 9,
  IDL_TYP_PTR = 10,
  IDL_TYP_OBJREF = 11,
  IDL_TYP_UINT = 12,
  IDL_TYP_ULONG = 13,
  IDL_TYP_LONG64 = 14,
  IDL_TYP_ULONG64 = 15
};

// IDL_VARIABLE.flags
enum {
  IDL_V_CONST = 1,
  IDL_V_TEMP = 2,
  IDL_V_ARR = 4,
  IDL_V_FILE = 8,
  IDL_V_DYNAMIC = 16,
  IDL_V_STRUCT = 32,
  IDL_V_NULL = 64,
  IDL_V_BOOLEAN = 128
};

// Message actions and routine flags.
enum {
  IDL_MSG_RET = 0,
  IDL_MSG_EXIT = 1,
  IDL_MSG_LONGJMP = 2,
  IDL_MSG_IO_LONGJMP = 3,
  IDL_MSG_INFO = 4
};
enum { IDL_SYSFUN_DEF_F_KEYWORDS = 2 };
enum { IDL_MAX_ARRAY_DIM = 8 };

typedef struct {
  IDL_STRING_SLEN_T slen;
  short stype;
  char* s;
} IDL_STRING;

typedef struct {
  float r, i;
} IDL_COMPLEX;

typedef struct {
  double r, i;
} IDL_DCOMPLEX;

typedef struct _idl_array IDL_ARRAY;

typedef struct {
  IDL_ARRAY* arr;
  void* sdef;
} IDL_SREF;

typedef union {
  char sc;
  UCHAR c;
  IDL_INT i;
  IDL_UINT ui;
  IDL_LONG l;
  IDL_ULONG ul;
  IDL_LONG64 l64;
  IDL_ULONG64 ul64;
  float f;
  double d;
  IDL_COMPLEX cmp;
  IDL_DCOMPLEX dcmp;
  IDL_STRING str;
  IDL_ARRAY* arr;
  IDL_SREF s;
  IDL_ULONG hvid;
  IDL_MEMINT memint;
  IDL_FILEINT fileint;
  IDL_PTRINT ptrint;
} IDL_ALLTYPES;

typedef struct {
  UCHAR type;
  UCHAR flags;
  UCHAR flags2;
  IDL_ALLTYPES value;
} IDL_VARIABLE;
typedef IDL_VARIABLE* IDL_VPTR;

typedef void (*IDL_ARRAY_FREE_CB)(UCHAR* data);

struct _idl_array {
  IDL_MEMINT elt_len;
  IDL_MEMINT arr_len;
  IDL_MEMINT n_elts;
  UCHAR* data;
  UCHAR n_dim;
  UCHAR flags;
  short file_unit;
  IDL_MEMINT dim[IDL_MAX_ARRAY_DIM];
  IDL_ARRAY_FREE_CB free_cb;
  IDL_FILEINT offset;
  IDL_MEMINT data_guard;
};

typedef struct {
  char* name;
  char* format;
} IDL_MSG_DEF;
typedef void* IDL_MSG_BLOCK;

typedef void (*IDL_SYSRTN_PRO)(int argc, IDL_VPTR argv[], char* argk);
typedef IDL_VARIABLE* (*IDL_SYSRTN_FUN)(int argc, IDL_VPTR argv[], char* argk);
typedef union {
  IDL_SYSRTN_PRO pro;
  IDL_SYSRTN_FUN fun;
} IDL_SYSRTN_UNION;

typedef struct {
  IDL_SYSRTN_UNION funct_addr;
  char* name;
  unsigned short arg_min;
  unsigned short arg_max;
  int flags;
  void* extra;
} IDL_SYSFUN_DEF2;

// The host's operations, resolved against the host process at load time.
IDL_MSG_BLOCK IDL_MessageDefineBlock(char* block_name, int n, IDL_MSG_DEF* defs);
void IDL_MessageFromBlock(IDL_MSG_BLOCK block, int code, int action, ...);
int IDL_SysRtnAdd(IDL_SYSFUN_DEF2* defs, int is_function, int cnt);
IDL_VPTR IDL_BasicTypeConversion(int argc, IDL_VPTR argv[], int type);
void IDL_VarGetData(IDL_VPTR v, IDL_MEMINT* n, char** pd, int ensure_simple);

// Exported by the module.
int IDL_Load(void);

}  // extern "C"

static_assert(sizeof(IDL_INT) == 2 && sizeof(IDL_LONG) == 4 && sizeof(IDL_LONG64) == 8);
static_assert(sizeof(IDL_MEMINT) == 8, "64-bit host");
static_assert(sizeof(IDL_STRING) == 16 && offsetof(IDL_STRING, stype) == 4 &&
              offsetof(IDL_STRING, s) == 8);
static_assert(sizeof(IDL_ALLTYPES) == 16 && alignof(IDL_ALLTYPES) == 8);
static_assert(sizeof(IDL_VARIABLE) == 24 && offsetof(IDL_VARIABLE, flags) == 1 &&
              offsetof(IDL_VARIABLE, flags2) == 2 && offsetof(IDL_VARIABLE, value) == 8);
static_assert(offsetof(IDL_ARRAY, elt_len) == 0 && offsetof(IDL_ARRAY, arr_len) == 8 &&
              offsetof(IDL_ARRAY, n_elts) == 16 && offsetof(IDL_ARRAY, data) == 24 &&
              offsetof(IDL_ARRAY, n_dim) == 32 && offsetof(IDL_ARRAY, flags) == 33 &&
              offsetof(IDL_ARRAY, file_unit) == 34 && offsetof(IDL_ARRAY, dim) == 40 &&
              offsetof(IDL_ARRAY, free_cb) == 104 && offsetof(IDL_ARRAY, offset) == 112 &&
              offsetof(IDL_ARRAY, data_guard) == 120 && sizeof(IDL_ARRAY) == 128);
static_assert(sizeof(IDL_MSG_DEF) == 16 && offsetof(IDL_MSG_DEF, format) == 8);
static_assert(offsetof(IDL_SYSFUN_DEF2, name) == 8 && offsetof(IDL_SYSFUN_DEF2, arg_min) == 16 &&
              offsetof(IDL_SYSFUN_DEF2, arg_max) == 18 && offsetof(IDL_SYSFUN_DEF2, flags) == 20 &&
              offsetof(IDL_SYSFUN_DEF2, extra) == 24 && sizeof(IDL_SYSFUN_DEF2) == 32);
