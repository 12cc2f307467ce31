#pragma once
#include "ui/dialog_base.h"
#include "ui/logic/extract_logic.h"

// The main window: credits, the file being processed and two progress bars.
// It lives from start-up to the worker's last message; the run itself is
// ExtractDialogLogic's.
class CExtractDlg : public CDialogBase, private ExtractWindow {
public:
    CExtractDlg();
    ~CExtractDlg() override;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    // Enter: the dialog has no OK button, and ending it would free the reader under the worker.
    void OnOK() override {}
    void OnCancel() override;
    bool OnCommand(int id, int notifyCode) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void AddAboutToSystemMenu();
    void ShowAbout();
    void PaintIconic();

    // ExtractWindow
    void SetCaption(const char* text) override;
    void SetFileProgress(int percent) override;
    void SetAllProgress(int percent) override;
    void SetFileName(const char* text) override;
    bool ChooseDestination() override;
    bool StartWorker(CArchiveReader* reader) override;
    void End(int result) override;

    HWND m_progressFile = nullptr;
    HWND m_progressAll = nullptr;
    HWND m_editFileName = nullptr;
    HWND m_btnExtract = nullptr;
    HICON m_hIcon;
    // Last, so that the reader and the entries go before the window's parts.
    ExtractDialogLogic m_logic;
};
