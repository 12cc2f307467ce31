#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "entry_names.h"
#include "options.h"
#include "platform/console/host.h"
#include "ui/logic/extract_logic.h"

struct QueueNode;

// An answer typed to trelk-extract's overwrite question.
enum class OverwriteAnswer { Yes, No, All, None, Cancel, Unknown };
// y or yes, n or no, a, A or all, N or none, c or cancel; words in any case.
OverwriteAnswer ParseOverwriteAnswer(const std::string& typed);

// The terminal stands in for the extraction dialog and its boxes: the same
// dialog logic runs, boxes go to err as "caption: text", prompts are asked
// on the terminal, answered by options, or refused.
//
// Skipping a file is trelk-extract's own: the engine only ever stops at a No,
// as the stub does. So the console decides about an entry whose file exists
// before the engine starts it, and takes a skipped entry out of the queue;
// the engine's own prompt for a kept one then gets the answer given here.
class ConsoleHost : public platform::Host, public ExtractWindow {
public:
    // Listings and lines go to out, boxes and prompts to err.
    explicit ConsoleHost(const Options& options, FILE* out = stdout, FILE* err = stderr);
    ~ConsoleHost() override;

    // Loads, lists, tests or extracts; the run is over when this returns. False
    // when no catalog could be loaded. Each NAME that picked nothing is reported.
    bool Run();
    bool AllNamesMatched() const { return m_selection.Unmatched().empty(); }

    // The host side.
    int ShowMessage(const char* text, const char* caption, unsigned type) override;
    void SendToDialog(unsigned message, intptr_t lParam) override;
    bool PromptKeyText(char* text, int size) override;

    // The window side.
    void SetCaption(const char*) override {}
    void SetFileProgress(int percent) override;
    // The console counts its own: the dialog's total holds every entry, not only those picked.
    void SetAllProgress(int) override {}
    void SetFileName(const char* text) override;
    bool ChooseDestination() override;
    bool StartWorker(CArchiveReader* reader) override;
    void End(int) override {}

private:
    // Every box goes out here: "caption: text", then what follows it.
    void PrintBox(const char* caption, const char* text, const char* after);
    void PrintCause();
    // Shows the box with the choices and reads one line; false at the end of the input or on a Ctrl-C.
    bool AskOnTerminal(const char* caption, const char* text, const char* choices, std::string& typed);
    int AnswerEnginesOverwrite(const char* text, const char* caption);
    int AnswerDiskPrompt(const char* text, const char* caption);
    void LeaveOutUnpicked();
    void TestTheRest();
    void DecideUpcoming(QueueNode* node);
    // Whether the entry's file exists and is to be left as it is.
    bool Skips(const CatalogEntry* entry);
    OverwriteAnswer AskOverwrite(const char* text);
    // "  extracted: docs/a.txt" and its kin, unless quiet.
    void PrintEntryLine(const char* format, const char* corePath);
    void CountDone(const CatalogEntry* entry);
    void PrintList();
    void ShowProgress();
    void EndProgressLine();

    ExtractDialogLogic m_dialog{*this};
    const Options& m_options;
    FILE* m_out;
    FILE* m_err;
    EntrySelection m_selection;
    Overwrite m_overwrite;
    bool m_interactive;    // stdin is a terminal: prompts can be asked
    bool m_progressShown;  // err is a terminal: a live progress line
    CArchiveReader* m_reader = nullptr;
    // The answer for the engine's own prompt about the entry decided on last.
    const CatalogEntry* m_pendingEntry = nullptr;
    int m_pendingAnswer = 0;
    std::string m_diskPrompt;  // the disk prompt answered last, and how often in a row
    int m_diskPrompts = 0;
    std::string m_current;
    int m_filePercent = 0;
    int64_t m_pickedBytes = 0;
    int64_t m_doneBytes = 0;
    bool m_lineOpen = false;
    platform::Host* m_previous;
};
