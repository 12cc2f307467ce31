#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "ui/extract_dlg.h"
#include "ui/logic/prompt_logic.h"

namespace {

// Only System32 for DLLs loaded on demand (the shell's folder picker loads
// many), so a DLL planted in the download folder is never picked up. Looked
// up by name: systems without the call still run.
void RestrictDllSearch() {
    using SetDirsFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    auto setDirs = reinterpret_cast<SetDirsFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirs) setDirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The program's one application object. Its start-up is the whole run: the
// extraction dialog, modally, and nothing after it.
class CExtractorApp {
public:
    bool InitInstance();
};

bool CExtractorApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    InitStartPaths(__argv ? __argv[0] : nullptr);
    {
        CExtractDlg dialog;
        CDialogBase::SetMainWindow(&dialog);
        dialog.DoModal();
        CDialogBase::SetMainWindow(nullptr);
    }
    return false;  // no message loop: the process ends here
}

CExtractorApp theApp;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    theApp.InitInstance();
    return 0;
}
