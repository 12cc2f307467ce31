#pragma once
#include "ui/dialog_base.h"
#include "ui/logic/prompt_logic.h"

// Asks where to extract; OK stores the folder in g_szDestDir.
class CDestFolderDlg : public CDialogBase, private BoxOwner {
public:
    CDestFolderDlg();
    ~CDestFolderDlg() override;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnCommand(int id, int notifyCode) override;

private:
    int ShowBox(const char* text, const char* caption, unsigned type) override;

    HWND m_editDest = nullptr;
};

// The shell's folder picker. True, with the folder's file-system path in
// buffer (260 bytes), when the user picked a folder that has one.
bool BrowseForFolder(const char* title, char* buffer, HWND owner);
