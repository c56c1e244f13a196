// Basic types and macros of the windowing platform, as its programs spell them.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint64_t ULONGLONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD* LPDWORD;
typedef BOOL* LPBOOL;
typedef void* LPVOID;
typedef void* HANDLE;

// Wide text is UTF-16; narrow text is UTF-8.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
// A wide literal: TEXT("text").
#define TEXT(quote) u##quote
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HICON__* HICON;
typedef struct HACCEL__* HACCEL;
typedef struct HRSRC__* HRSRC;
typedef struct HGLOBAL__* HGLOBAL;
typedef struct HBRUSH__* HBRUSH;
typedef struct HGDIOBJ__* HGDIOBJ;
typedef struct HCURSOR__* HCURSOR;
typedef struct HMENU__* HMENU;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define CALLBACK
#define APIENTRY

#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((UINT_PTR)(l)) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
#define MAKEINTRESOURCEW(i) ((LPWSTR)(UINT_PTR)(WORD)(i))

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;
