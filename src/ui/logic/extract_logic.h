#pragma once
#include <cstdint>

#include "archive/catalog.h"

class CArchiveReader;

// What the extraction dialog's logic needs from its window and the system
// around it. The Windows dialog implements it with controls and a thread;
// the tests with a recorder.
class ExtractWindow {
public:
    virtual ~ExtractWindow() = default;
    virtual void SetCaption(const char* text) = 0;
    virtual void SetFileProgress(int percent) = 0;
    virtual void SetAllProgress(int percent) = 0;
    virtual void SetFileName(const char* text) = 0;
    // Runs the destination dialog modally; true when it ended with OK.
    virtual bool ChooseDestination() = 0;
    // Starts ExtractWorker(reader) on its own thread; false when it could not.
    virtual bool StartWorker(CArchiveReader* reader) = 0;
    // Ends the modal run with the given result.
    virtual void End(int result) = 0;
    // The reader for this run; null when it cannot be allocated.
    virtual CArchiveReader* NewReader();
};

// The extraction dialog without its drawing: loads the catalog, queues the
// entries, asks for the destination, starts the worker and follows its
// messages. It owns the catalog list and, through the entries, the reader.
class ExtractDialogLogic {
public:
    explicit ExtractDialogLogic(ExtractWindow& window) : m_window(window) {}
    // Deletes the reader first, then the entries it may still point to.
    ~ExtractDialogLogic();
    ExtractDialogLogic(const ExtractDialogLogic&) = delete;
    ExtractDialogLogic& operator=(const ExtractDialogLogic&) = delete;

    void OnExtractStart();
    // Handles one of the worker's messages; false for any other id.
    bool OnWorkerMessage(unsigned message, intptr_t lParam);
    // Cancel, Escape and the close box: the worker stops at its next check and
    // its last message ends the dialog, so nothing is freed under its feet.
    void OnCancel();

    CatalogEntry* CatalogHead() const { return m_catalogHead; }
    int64_t TotalBytes() const { return m_totalBytes; }
    int64_t DoneBytes() const { return m_doneBytes; }

    // done * 100 / total, truncated; 0 for an empty total.
    static int OverallPercent(int64_t done, int64_t total);

private:
    void QueueAll(CArchiveReader* reader);
    void Fail(const char* text);

    ExtractWindow& m_window;
    CatalogEntry* m_catalogHead = nullptr;
    int64_t m_totalBytes = 0;
    int64_t m_doneBytes = 0;
};
