#include "ui/logic/extract_logic.h"

#include <cstdio>
#include <new>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/win_values.h"
#include "platform/platform.h"

namespace {

const char kCatalogFailed[] = "Couldn't load the catalog for the archive.";
const char kFileErrorCaption[] = "File error";
const char kFatalCaption[] = "Fatal Error!";
const char kNoMemory[] = "Not enough memory to open the archive.";
const char kNoWorker[] = "Could not start the extraction.";
const char kCaptionFormat[] = "Trelk - %s";

}  // namespace

CArchiveReader* ExtractWindow::NewReader() { return new (std::nothrow) CArchiveReader; }

ExtractDialogLogic::~ExtractDialogLogic() {
    if (m_catalogHead && m_catalogHead->reader) delete m_catalogHead->reader;
    FreeCatalog(m_catalogHead);
}

void ExtractDialogLogic::OnExtractStart() {
    CArchiveReader* reader = m_window.NewReader();
    if (!reader) {
        Fail(kNoMemory);
        return;
    }
    m_catalogHead = reader->LoadCatalog();
    if (!m_catalogHead) {
        delete reader;
        // A cancelled key dialog is the user's choice, not a failure to report.
        if (!g_cancelRequested) platform::ShowMessage(kCatalogFailed, kFileErrorCaption, MB_ICONEXCLAMATION);
        m_window.End(IDCANCEL);
        return;
    }
    QueueAll(reader);

    char caption[kPathSize];
    std::snprintf(caption, sizeof caption, kCaptionFormat, reader->m_pszArchiveName);
    m_window.SetCaption(caption);
    m_window.SetFileProgress(0);
    m_doneBytes = 0;

    if (!m_window.ChooseDestination()) {
        m_window.End(IDCANCEL);
        return;
    }
    // Cancel only raises a flag, so without a worker nothing would ever end the dialog.
    if (!m_window.StartWorker(reader)) Fail(kNoWorker);
}

void ExtractDialogLogic::QueueAll(CArchiveReader* reader) {
    m_totalBytes = 0;
    for (CatalogEntry* entry = m_catalogHead; entry; entry = entry->next) {
        reader->EnqueueEntry(entry);
        m_totalBytes += int64_t(entry->fileSize);
    }
}

void ExtractDialogLogic::Fail(const char* text) {
    g_errorRaised = 1;
    platform::ShowMessage(text, kFatalCaption, MB_ICONERROR);
    m_window.End(IDCANCEL);
}

bool ExtractDialogLogic::OnWorkerMessage(unsigned message, intptr_t lParam) {
    switch (message) {
        case WM_EXTRACT_FILEPROGRESS:
            m_window.SetFileProgress(int(lParam));
            return true;
        case WM_EXTRACT_FILEDONE:
            m_doneBytes += int64_t(reinterpret_cast<const CatalogEntry*>(lParam)->fileSize);
            m_window.SetAllProgress(OverallPercent(m_doneBytes, m_totalBytes));
            return true;
        case WM_EXTRACT_FILENAME:
            m_window.SetFileName(reinterpret_cast<const char*>(lParam));
            return true;
        case WM_EXTRACT_FINISHED:
            m_window.End(IDCANCEL);
            return true;
        default:
            return false;
    }
}

void ExtractDialogLogic::OnCancel() { g_cancelRequested = 1; }

int ExtractDialogLogic::OverallPercent(int64_t done, int64_t total) {
    if (total == 0) return 0;
    return int(double(done) * 100.0 / double(total));
}
