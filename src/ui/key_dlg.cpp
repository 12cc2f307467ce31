#include "ui/key_dlg.h"

#include "common/globals.h"
#include "platform/win32/main_window.h"
#include "ui/logic/prompt_logic.h"
#include "ui/resource.h"

CKeyDlg::CKeyDlg(unsigned char* pKey) : CDialogBase(IDD_KEY, nullptr), m_pKey(pKey) {}

CKeyDlg::~CKeyDlg() = default;

void CKeyDlg::DoDataExchange() { m_editKey = Item(IDC_KEY_EDIT); }

BOOL CKeyDlg::OnInitDialog() {
    CDialogBase::OnInitDialog();
    m_pKey[0] = 0;
    SendMessageA(m_editKey, EM_LIMITTEXT, kPathSize - 1, 0);
    return TRUE;
}

void CKeyDlg::OnOK() {
    char text[kPathSize];
    GetWindowTextA(m_editKey, text, sizeof text);
    AcceptKey(text, m_pKey);
    EndDialog(IDOK);
}

bool RunKeyDialog(unsigned char* key) {
    CKeyDlg dialog(key);
    return dialog.DoModal() == IDOK;
}
