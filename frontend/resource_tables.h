// The program's resources as data: the main dialog's template and the
// module's resource table. The Linux build links them in and reads them
// at run time; the Windows build turns them into a resource script.
#pragma once

#include "frontend/resource.h"

// The main dialog's template.
extern const DLGTEMPLATE MAIN_DIALOG_TEMPLATE;
// All of the program's resources; the instance handle points here.
extern const MODULE PROGRAM_MODULE;
