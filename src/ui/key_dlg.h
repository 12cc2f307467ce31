#pragma once
#include "ui/dialog_base.h"

// Asks for the key of an encrypted archive; OK derives it into the reader's
// 43-byte key buffer.
class CKeyDlg : public CDialogBase {
public:
    explicit CKeyDlg(unsigned char* pKey);
    ~CKeyDlg() override;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    HWND m_editKey = nullptr;
    unsigned char* m_pKey;
};
