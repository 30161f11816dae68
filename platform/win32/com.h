// COM on Windows is the system's own.
#pragma once

#include <objbase.h>
#include <ole2.h>
#include <windows.h>
