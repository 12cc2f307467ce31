#include "ui/extract_dlg.h"

#include <commctrl.h>
#include <process.h>

#include "archive/archive_reader.h"
#include "common/messages.h"
#include "platform/win32/main_window.h"
#include "ui/about_dlg.h"
#include "ui/dest_folder_dlg.h"
#include "ui/resource.h"

namespace {

// _beginthreadex wants the stdcall shape; the engine's routine is plain.
unsigned __stdcall RunExtractWorker(void* reader) { return ExtractWorker(reader); }

}  // namespace

CExtractDlg::CExtractDlg()
    : CDialogBase(IDD_EXTRACT, nullptr),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_logic(*this) {}

CExtractDlg::~CExtractDlg() = default;

void CExtractDlg::DoDataExchange() {
    m_progressFile = Item(IDC_PROGRESS_FILE);
    m_progressAll = Item(IDC_PROGRESS_ALL);
    m_editFileName = Item(IDC_FILE_NAME);
    m_btnExtract = Item(IDC_EXTRACT);
}

BOOL CExtractDlg::OnInitDialog() {
    CDialogBase::OnInitDialog();
    AddAboutToSystemMenu();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    // The image holds only the stored marker; the search form exists in memory
    // alone, and must before the first load.
    MakeMarkerSearchForm();
    g_hMainDlg = m_hWnd;
    ShowWindow(m_btnExtract, SW_HIDE);
    PostMessageA(m_hWnd, WM_EXTRACT_START, 0, 0);
    return TRUE;
}

void CExtractDlg::AddAboutToSystemMenu() {
    char text[128] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text);
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (text[0] == '\0' || !menu) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
}

void CExtractDlg::OnCancel() { m_logic.OnCancel(); }

bool CExtractDlg::OnCommand(int id, int notifyCode) {
    if (id != IDC_EXTRACT || notifyCode != BN_CLICKED) return false;
    m_logic.OnExtractStart();
    return true;
}

bool CExtractDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_EXTRACT_START:
            m_logic.OnExtractStart();
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
            ShowAbout();
            return true;
        case WM_PAINT:
            if (!IsIconic(m_hWnd)) return false;
            PaintIconic();
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<INT_PTR>(m_hIcon);
            return true;
        default:
            return m_logic.OnWorkerMessage(message, intptr_t(lParam));
    }
}

void CExtractDlg::ShowAbout() {
    CAboutDlg about;
    about.DoModal();
}

void CExtractDlg::PaintIconic() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - cx + 1) / 2;
    const int y = (rect.bottom - rect.top - cy + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
}

void CExtractDlg::SetCaption(const char* text) { SetWindowTextA(m_hWnd, text); }

void CExtractDlg::SetFileProgress(int percent) { SendMessageA(m_progressFile, PBM_SETPOS, WPARAM(percent), 0); }

void CExtractDlg::SetAllProgress(int percent) { SendMessageA(m_progressAll, PBM_SETPOS, WPARAM(percent), 0); }

void CExtractDlg::SetFileName(const char* text) { SetWindowTextA(m_editFileName, text); }

bool CExtractDlg::ChooseDestination() {
    CDestFolderDlg dialog;
    return dialog.DoModal() == IDOK;
}

bool CExtractDlg::StartWorker(CArchiveReader* reader) {
    const uintptr_t thread = _beginthreadex(nullptr, 0, RunExtractWorker, reader, 0, nullptr);
    if (thread == 0) return false;
    // The dialog never waits for the worker: its last message is what ends the run.
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

void CExtractDlg::End(int result) { EndDialog(result); }
