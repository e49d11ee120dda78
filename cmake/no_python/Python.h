// On the include path of the kernel library only: kernels are plain C++, and
// everything that touches Python belongs to the binding layer (src/boundary.*
// and the *_py.cpp files beside each kernel).
#error "a kernel includes Python.h: kernels are plain C++; move this code into the binding layer (*_py.cpp)"
