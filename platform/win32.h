// The one door between the core and the operating system. On Windows it is
// <windows.h>; elsewhere it declares exactly the types, constants and calls
// that the core uses, with the contracts of their Windows namesakes. A call
// that is not listed here does not compile off Windows, which keeps the core
// inside this subset.
#ifndef KORIMBA_PLATFORM_WIN32_H
#define KORIMBA_PLATFORM_WIN32_H

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>

#define WINAPI
#define FALSE 0
#define TRUE 1

typedef int BOOL;
typedef std::uint32_t DWORD;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HWND__* HWND;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(std::intptr_t)-1)
#define SW_SHOWDEFAULT 10

extern "C" {

// The program's entry point, called by the platform's start-up.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

// Files and directories. Paths use the backslash as separator.
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_DEVICE 0x00000040
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
typedef WIN32_FIND_DATAA WIN32_FIND_DATA;

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindClose(HANDLE hFindFile);
BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);

// The command line.
LPSTR WINAPI GetCommandLineA(void);

// The user interface.
#define MB_OK 0x00000000
#define IDOK 1

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

}  // extern "C"
#endif

#endif
