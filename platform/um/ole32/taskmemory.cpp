// The COM task allocator: memory that crosses module boundaries.
#include <objbase.h>

#include <cstdlib>

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return malloc(cb ? cb : 1); }
void WINAPI CoTaskMemFree(LPVOID pv) { free(pv); }
