// Everything of the windowing platform that the program uses.
#pragma once

#include "platform/linux/winbase.h"
#include "platform/linux/windef.h"
#include "platform/linux/winnls.h"
#include "platform/linux/winuser.h"
