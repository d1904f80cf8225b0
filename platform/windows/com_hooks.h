// Included by platform/com.h after the system's COM headers: routes the
// library's CoTaskMemAlloc calls through a wrapper of ours so that tests can
// make the nth allocation fail (zelto::platform::FailNthTaskMemAlloc).
//
// The system headers declare CoTaskMemAlloc once, in combaseapi.h, which is
// already included and guarded; a system header included later that calls
// CoTaskMemAlloc inline simply calls the wrapper, declared here with the same
// signature.
#pragma once

#include <objbase.h>

extern "C" LPVOID WINAPI ZeltoCoTaskMemAlloc(SIZE_T cb);

#ifndef ZELTO_NO_TASK_MEMORY_HOOK
#  define CoTaskMemAlloc ZeltoCoTaskMemAlloc
#endif
