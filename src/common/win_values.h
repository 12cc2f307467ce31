#pragma once

// Message box types and answers, with their Win32 values, so the portable core
// speaks the same language as the Windows side. windows.h defines the same
// names with the same values; these only fill in where it is absent.
#ifndef MB_OK
#define MB_OK 0x00u
#define MB_OKCANCEL 0x01u
#define MB_YESNOCANCEL 0x03u
#define MB_ICONERROR 0x10u
#define MB_ICONQUESTION 0x20u
#define MB_ICONEXCLAMATION 0x30u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#endif
