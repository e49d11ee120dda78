/* The few configuration values the stable-ABI headers read, for 64-bit
   Windows: enough to compile the module for that platform here, in the
   compile-only check of scripts/check_portability.sh. */
#ifndef Py_PYCONFIG_H
#define Py_PYCONFIG_H
#define MS_WIN32
#define MS_WIN64
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define HAVE_DECLSPEC_DLL
#define Py_ENABLE_SHARED 1
#define HAVE_PY_SSIZE_T 1
typedef long long Py_ssize_t;
#define SIZEOF_DOUBLE 8
#define SIZEOF_FLOAT 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_OFF_T 4
#define SIZEOF_SHORT 2
#define SIZEOF_SIZE_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_VOID_P 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define SIZEOF_HKEY 8
#define HAVE_SYS_STAT_H 1
#define HAVE_STDINT_H 1
#define HAVE_DYNAMIC_LOADING 1
#define WITH_PYMALLOC 1
#endif
