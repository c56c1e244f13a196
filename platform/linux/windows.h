// Everything of the windowing platform that the program uses.
#pragma once

#include "platform/winbase.h"
#include "platform/windef.h"
#include "platform/winnls.h"
#include "platform/winuser.h"
