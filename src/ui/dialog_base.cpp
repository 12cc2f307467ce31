#include "ui/dialog_base.h"

CDialogBase* CDialogBase::s_mainWindow = nullptr;

CDialogBase::CDialogBase(int templateId, HWND parent) : m_templateId(templateId), m_hParent(parent) {}

INT_PTR CDialogBase::DoModal() {
    HWND owner = m_hParent;
    if (!owner && s_mainWindow && s_mainWindow != this) owner = s_mainWindow->m_hWnd;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialogBase::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogBase*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    // A few messages (WM_SETFONT) come before WM_INITDIALOG: the system handles those.
    return self ? self->Dispatch(message, wParam, lParam) : FALSE;
}

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK: OnOK(); return TRUE;
                case IDCANCEL: OnCancel(); return TRUE;
                default: return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
            }
        default: {
            INT_PTR result = FALSE;
            return OnMessage(message, wParam, lParam, result) ? result : FALSE;
        }
    }
}
