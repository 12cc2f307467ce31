#pragma once
#include "ui/dialog_base.h"
#include "ui/resource.h"

// Version and credit; OK, Escape or the close box end it.
class CAboutDlg : public CDialogBase {
public:
    CAboutDlg() : CDialogBase(IDD_ABOUTBOX, nullptr) {}
};
