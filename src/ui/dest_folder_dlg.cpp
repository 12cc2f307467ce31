#include "ui/dest_folder_dlg.h"

#include <objbase.h>
#include <shlobj.h>

#include "common/globals.h"
#include "ui/resource.h"

namespace {

const char kBrowseTitle[] = "Choose the destination folder";

}  // namespace

CDestFolderDlg::CDestFolderDlg() : CDialogBase(IDD_DEST_FOLDER, nullptr) {}

CDestFolderDlg::~CDestFolderDlg() = default;

void CDestFolderDlg::DoDataExchange() { m_editDest = Item(IDC_DEST_EDIT); }

BOOL CDestFolderDlg::OnInitDialog() {
    CDialogBase::OnInitDialog();
    // What can be typed is exactly what is taken.
    SendMessageA(m_editDest, EM_LIMITTEXT, kPathSize - 1, 0);
    SetWindowTextA(m_editDest, g_szDestDir);
    return TRUE;
}

void CDestFolderDlg::OnOK() {
    char text[kPathSize];
    GetWindowTextA(m_editDest, text, sizeof text);
    if (AcceptDestination(text, *this)) EndDialog(IDOK);
}

bool CDestFolderDlg::OnCommand(int id, int notifyCode) {
    if (id != IDC_BROWSE || notifyCode != BN_CLICKED) return false;
    char folder[kPathSize];
    if (BrowseForFolder(kBrowseTitle, folder, m_hWnd)) SetWindowTextA(m_editDest, folder);
    return true;
}

int CDestFolderDlg::ShowBox(const char* text, const char* caption, unsigned type) {
    return MessageBoxA(m_hWnd, text, caption, type);
}

bool BrowseForFolder(const char* title, char* buffer, HWND owner) {
    IMalloc* allocator = nullptr;
    if (FAILED(CoGetMalloc(1, &allocator))) return false;
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = buffer;
    info.lpszTitle = title;
    info.ulFlags = 0;
    info.lpfn = nullptr;
    info.lParam = 0;
    bool picked = false;
    if (LPITEMIDLIST item = SHBrowseForFolderA(&info)) {
        picked = SHGetPathFromIDListA(item, buffer) != FALSE;
        allocator->Free(item);
    }
    allocator->Release();
    return picked;
}
