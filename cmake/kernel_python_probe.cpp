// Compiled by the kernel_without_python test, expecting the build to stop:
// code built like a kernel cannot include Python.h.
#include <Python.h>

int kernel_python_probe() { return 0; }
