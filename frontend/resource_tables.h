// The program's resources as data: the main dialog's template and the
// module's resource table. The Linux build links them in and its stand-ins
// read them at run time; the Windows build turns them into a resource
// script. The types are the program's own, not the platform's binary
// formats.
#pragma once

#include "frontend/resource.h"

// One control of a dialog: its style, place and size in dialog units, its
// identifier, its kind (WC_BUTTON, ...) and its text.
typedef struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    int id;
    LPCWSTR windowClass;
    LPCWSTR title;
} DialogItem;

// A dialog: its style, place and client size in dialog units, caption and
// font, then its controls in tab order.
typedef struct DialogTable {
    DWORD style;
    DWORD extendedStyle;
    short x, y, cx, cy;
    LPCWSTR caption;
    LPCWSTR fontFace;
    WORD pointSize;
    const DialogItem* items;
    WORD count;
} DialogTable;

// The accelerator keys of one table.
typedef struct AcceleratorTable {
    const ACCEL* entries;
    int count;
} AcceleratorTable;

// An icon: pictures of several sizes, each a PNG file of frontend/icons/.
typedef struct IconPictures {
    const char* const* images;
    int count;
} IconPictures;

// One resource, by type (RT_DIALOG, ...) and numeric name.
typedef struct ResourceEntry {
    WORD type;
    WORD name;
    const void* data;  // DialogTable, NUL-terminated WCHAR text, AcceleratorTable or IconPictures
} ResourceEntry;

// All of a module's resources.
typedef struct ResourceTable {
    const ResourceEntry* resources;
    int count;
} ResourceTable;

// The main dialog's template.
extern const DialogTable MAIN_DIALOG_TEMPLATE;
// All of the program's resources; the instance handle points here.
extern const ResourceTable PROGRAM_MODULE;
