// The one way our code includes <windows.h>: lean, without min/max macros, and without the
// GetClassName macro, which would rename CObject::GetClassName in this translation unit only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef GetClassName
