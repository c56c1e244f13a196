// The program's resources: strings, the icon, the accelerator table and the
// main dialog, linked in as the module's resource table.
#include "frontend/resource_tables.h"

namespace {

// Files of frontend/icons/, drawn from quillomarde.svg as the installed
// icons are.
const char* const ICON_PICTURES[] = {"quillomarde-16.png", "quillomarde-32.png", "quillomarde-48.png",
                                     "quillomarde-64.png", "quillomarde-128.png", "quillomarde-256.png"};
const IconPictures APP_ICON = {ICON_PICTURES, sizeof ICON_PICTURES / sizeof ICON_PICTURES[0]};

const ACCEL ACCELERATORS[] = {
    {FALT | FNOINVERT, '/', IDM_ALT_SLASH},
    {FVIRTKEY | FALT | FNOINVERT, VK_F4, IDM_ALT_F4},
};
const AcceleratorTable ACCELERATOR_TABLE = {ACCELERATORS, 2};

const ResourceEntry RESOURCES[] = {
    {RT_STRING, IDS_TITLE, TEXT("Quillomarde")},
    {RT_STRING, IDS_WINDOW_CLASS, TEXT("QUILLOMARDE")},
    {RT_GROUP_ICON, IDI_APP, &APP_ICON},
    {RT_ACCELERATOR, IDR_ACCEL, &ACCELERATOR_TABLE},
    {RT_DIALOG, IDD_MAIN, &MAIN_DIALOG_TEMPLATE},
};

}  // namespace

const ResourceTable PROGRAM_MODULE = {RESOURCES, sizeof RESOURCES / sizeof RESOURCES[0]};
