#pragma once
#include <windows.h>

// A modal dialog over DialogBoxParamA. The object rides in the window's user
// data; the messages come out as virtual handlers: OnInitDialog, the Enter
// and Escape commands as OnOK and OnCancel, everything else through
// OnCommand and OnMessage.
class CDialogBase {
public:
    CDialogBase(int templateId, HWND parent);
    virtual ~CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Runs the dialog until EndDialog; returns its result (-1 if it could not be created).
    INT_PTR DoModal();
    HWND GetHwnd() const { return m_hWnd; }

    // The application's main window owns every dialog constructed without a parent.
    static void SetMainWindow(CDialogBase* dialog) { s_mainWindow = dialog; }

protected:
    // Binds the control members to the template's controls.
    virtual void DoDataExchange() {}
    // The base binds the controls; TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // A command other than OK and Cancel; true when handled.
    virtual bool OnCommand(int /*id*/, int /*notifyCode*/) { return false; }
    // Any other message; true when handled, with the dialog procedure's result in result.
    virtual bool OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*result*/) {
        return false;
    }

    void CenterOnOwner();
    void EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    static CDialogBase* s_mainWindow;
    int m_templateId;
    HWND m_hParent;
};
