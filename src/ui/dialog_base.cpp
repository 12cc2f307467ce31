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
    CenterOnOwner();
    return TRUE;
}

// Templates place a dialog at the owner's or the screen's corner; centred
// over its owner (or the work area) it appears where the user is looking.
void CDialogBase::CenterOnOwner() {
    RECT area;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return;
    RECT around = area;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
    RECT self;
    GetWindowRect(m_hWnd, &self);
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    int x = (around.left + around.right - width) / 2;
    int y = (around.top + around.bottom - height) / 2;
    // Never off the work area, even when the owner is near its edge.
    if (x + width > area.right) x = area.right - width;
    if (y + height > area.bottom) y = area.bottom - height;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
