#include "console_host.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/win_values.h"
#include "extract/output_files.h"
#include "platform/platform.h"
#include "system/system.h"
#include "volumes/volume_name.h"

namespace {

// What follows a box's text: the choices of a prompt, or why it was not asked.
const char kOverwriteChoices[] = " [y]es, [n]o, [A]ll, [N]one, [c]ancel: ";
const char kStubOverwriteChoices[] = " [y]es, [n]o, [c]ancel: ";
const char kDiskChoices[] = " [o]k, [c]ancel: ";
const char kOverwriteRefused[] = "\n(no terminal to answer on: refused; -o overwrites, -n skips)\n";
const char kDiskRefused[] = "\n(no terminal to answer on: refused; --volumes-present answers OK)\n";
const char kKeyQuestion[] = "This archive is encrypted. Key: ";
const char kKeyRefused[] = "This archive is encrypted: give its key with -k (no terminal to ask on).\n";
const char kCauseFormat[] = "cause: %s: %s\n";
const char kNotMatchedFormat[] = "caution: filename not matched: %s\n";
const char kExtractedFormat[] = "  extracted: %s\n";
const char kTestedFormat[] = "  tested: %s\n";
const char kSkippedFormat[] = "  skipped: %s\n";

// A volume missing at the first look is looked for once more, then given up.
constexpr int kDiskLooks = 2;

// Reads one line from the terminal, optionally without echo (for keys). False
// at the end of the input, and on a Ctrl-C, which is the cancel.
bool ReadLine(std::string& line, bool echo, FILE* err) {
    const bool ok = sys::ReadTerminalLine(line, echo, [] { return g_cancelRequested != 0; });
    if (!echo) std::fputc('\n', err);  // the one the user typed did not show
    return ok;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

OverwriteAnswer ParseOverwriteAnswer(const std::string& typed) {
    // One letter as unzip users know them: n is this file, N all the rest.
    if (typed == "n") return OverwriteAnswer::No;
    if (typed == "N") return OverwriteAnswer::None;
    const std::string word = Lower(typed);
    if (word == "y" || word == "yes") return OverwriteAnswer::Yes;
    if (word == "no") return OverwriteAnswer::No;
    if (word == "a" || word == "all") return OverwriteAnswer::All;
    if (word == "none") return OverwriteAnswer::None;
    if (word == "c" || word == "cancel") return OverwriteAnswer::Cancel;
    return OverwriteAnswer::Unknown;
}

ConsoleHost::ConsoleHost(const Options& options, FILE* out, FILE* err)
    : m_options(options),
      m_out(out),
      m_err(err),
      m_selection(options.names),
      m_overwrite(options.overwrite),
      m_interactive(sys::IsTerminal(stdin)),
      m_progressShown(!options.quiet && sys::IsTerminal(err)),
      m_previous(platform::SetHost(this)) {}

ConsoleHost::~ConsoleHost() {
    EndProgressLine();
    platform::SetHost(m_previous);
}

bool ConsoleHost::Run() {
    // A test runs the extraction as it is, with the files going nowhere.
    if (m_options.mode == Mode::Test) platform::DiscardOutput(true);
    m_dialog.OnExtractStart();
    platform::DiscardOutput(false);
    EndProgressLine();
    if (!m_dialog.CatalogHead()) return false;
    for (const std::string& name : m_selection.Unmatched()) std::fprintf(m_err, kNotMatchedFormat, name.c_str());
    return true;
}

void ConsoleHost::PrintBox(const char* caption, const char* text, const char* after) {
    std::fprintf(m_err, "%s: %s%s", caption, platform::CoreTextToLocal(text).c_str(), after);
}

void ConsoleHost::PrintCause() {
    const platform::SystemFailure failure = platform::TakeLastFailure();
    if (failure.error != 0) std::fprintf(m_err, kCauseFormat, failure.path.c_str(), std::strerror(failure.error));
}

int ConsoleHost::ShowMessage(const char* text, const char* caption, unsigned type) {
    EndProgressLine();
    switch (type & 0x0F) {
        case MB_YESNOCANCEL: return AnswerEnginesOverwrite(text, caption);
        case MB_OKCANCEL: return AnswerDiskPrompt(text, caption);
        default:
            PrintBox(caption, text, "\n");
            // What the system said about the call that failed, when one did.
            PrintCause();
            return IDOK;
    }
}

int ConsoleHost::AnswerEnginesOverwrite(const char* text, const char* caption) {
    // A test writes nothing, so it overwrites nothing either.
    if (m_options.mode == Mode::Test || m_overwrite == Overwrite::Always) return IDYES;
    if (m_pendingEntry && m_reader->m_current && m_reader->m_current->entry == m_pendingEntry) {
        m_pendingEntry = nullptr;
        return m_pendingAnswer;
    }
    // A file that came into being after the console looked: too late to skip
    // it, so the stub's own question, where No stops the run.
    if (m_overwrite == Overwrite::Skip) {
        PrintBox(caption, text, "\n");
        return IDNO;
    }
    if (!m_interactive) {
        PrintBox(caption, text, kOverwriteRefused);
        return IDCANCEL;
    }
    for (std::string typed; AskOnTerminal(caption, text, kStubOverwriteChoices, typed);) {
        switch (ParseOverwriteAnswer(typed)) {
            case OverwriteAnswer::Yes: return IDYES;
            case OverwriteAnswer::No: return IDNO;
            case OverwriteAnswer::Cancel: return IDCANCEL;
            default: break;
        }
    }
    return IDCANCEL;
}

int ConsoleHost::AnswerDiskPrompt(const char* text, const char* caption) {
    if (m_options.volumesPresent) {
        m_diskPrompts = m_diskPrompt == text ? m_diskPrompts + 1 : 1;
        m_diskPrompt = text;
        if (m_diskPrompts <= kDiskLooks) return IDOK;
        // Asked again for a volume that is still not there: the stub would wait
        // for the disk, but here nobody is going to insert one.
        m_reader->ReportReadError(kVolumeNotFound);
        return IDCANCEL;
    }
    if (!m_interactive) {
        PrintBox(caption, text, kDiskRefused);
        return IDCANCEL;
    }
    for (std::string typed; AskOnTerminal(caption, text, kDiskChoices, typed);) {
        const std::string word = Lower(typed);
        if (word == "o" || word == "ok") return IDOK;
        if (word == "c" || word == "cancel") return IDCANCEL;
    }
    return IDCANCEL;
}

bool ConsoleHost::AskOnTerminal(const char* caption, const char* text, const char* choices, std::string& typed) {
    PrintBox(caption, text, choices);
    return ReadLine(typed, true, m_err);
}

bool ConsoleHost::ChooseDestination() {
    if (m_options.mode != Mode::List) return true;
    PrintList();
    return false;
}

bool ConsoleHost::StartWorker(CArchiveReader* reader) {
    m_reader = reader;
    LeaveOutUnpicked();
    if (m_options.mode == Mode::Extract) DecideUpcoming(reader->m_queueHead);
    // The console has no dialog to keep responsive: the worker runs right here.
    // With nothing left to do it does not run, and a split archive is not joined.
    if (!reader->m_queueHead || g_cancelRequested) return true;
    ExtractWorker(reader);
    if (m_options.mode == Mode::Test) TestTheRest();
    return true;
}

void ConsoleHost::TestTheRest() {
    // The run ends at the first failure, as it does in the stub. A test goes
    // on with the entries after a damaged one, each run reporting its own.
    bool failed = g_errorRaised;
    while (g_errorRaised && !g_cancelRequested && m_reader->m_current && m_reader->m_current->next) {
        QueueNode* rest = m_reader->m_current->next;
        m_reader->m_current = nullptr;
        while (m_reader->m_queueHead != rest) m_reader->DequeueEntry(m_reader->m_queueHead);
        ExtractWorker(m_reader);
        failed = failed || g_errorRaised;
    }
    // Each run clears the flag when it starts; the exit code is about them all.
    if (failed) g_errorRaised = 1;
}

void ConsoleHost::LeaveOutUnpicked() {
    for (QueueNode* node = m_reader->m_queueHead; node;) {
        QueueNode* next = node->next;
        if (m_selection.Picks(node->entry->path))
            m_pickedBytes += node->entry->fileSize;
        else
            m_reader->DequeueEntry(node);
        node = next;
    }
}

void ConsoleHost::DecideUpcoming(QueueNode* node) {
    while (node && !g_cancelRequested && Skips(node->entry)) {
        QueueNode* next = node->next;
        PrintEntryLine(kSkippedFormat, node->entry->path + 2);
        CountDone(node->entry);
        m_reader->DequeueEntry(node);
        node = next;
    }
}

OverwriteAnswer ConsoleHost::AskOverwrite(const char* text) {
    if (!m_interactive) {
        PrintBox(kOverwriteCaption, text, kOverwriteRefused);
        return OverwriteAnswer::Cancel;
    }
    for (std::string typed; AskOnTerminal(kOverwriteCaption, text, kOverwriteChoices, typed);) {
        const OverwriteAnswer answer = ParseOverwriteAnswer(typed);
        if (answer != OverwriteAnswer::Unknown) return answer;
    }
    return OverwriteAnswer::Cancel;
}

bool ConsoleHost::Skips(const CatalogEntry* entry) {
    // The engine's own rule for the output path, and its own test of it.
    char full[kPathSize];
    int prefixLength = 0;
    if (m_overwrite == Overwrite::Always || !BuildOutputPath(entry->path, full, prefixLength) ||
        !platform::Exists(full))
        return false;
    if (m_overwrite == Overwrite::Skip) return true;

    char text[kPathSize];
    FormatOverwritePrompt(entry->displayName, text);
    const OverwriteAnswer answer = AskOverwrite(text);
    switch (answer) {
        case OverwriteAnswer::No: return true;
        case OverwriteAnswer::None: m_overwrite = Overwrite::Skip; return true;
        case OverwriteAnswer::All: m_overwrite = Overwrite::Always; return false;
        case OverwriteAnswer::Yes: break;
        default: g_cancelRequested = 1; break;
    }
    // The engine asks its own question when it starts the entry: this is its answer.
    m_pendingEntry = entry;
    m_pendingAnswer = answer == OverwriteAnswer::Yes ? IDYES : IDCANCEL;
    return false;
}

void ConsoleHost::SendToDialog(unsigned message, intptr_t lParam) {
    if (message == WM_EXTRACT_FILEDONE) {
        const auto* entry = reinterpret_cast<const CatalogEntry*>(lParam);
        EndProgressLine();
        PrintEntryLine(m_options.mode == Mode::Test ? kTestedFormat : kExtractedFormat,
                       entry->path + entry->destPrefixLen);
        CountDone(entry);
    }
    if (message == WM_EXTRACT_FINISHED) EndProgressLine();
    m_dialog.OnWorkerMessage(message, lParam);
    // The engine starts the next entry as soon as this returns.
    if (message == WM_EXTRACT_FILEDONE && m_options.mode == Mode::Extract) DecideUpcoming(m_reader->m_current->next);
}

void ConsoleHost::PrintEntryLine(const char* format, const char* corePath) {
    if (m_options.quiet) return;
    std::fprintf(m_out, format, ShownName(corePath).c_str());
    std::fflush(m_out);
}

void ConsoleHost::CountDone(const CatalogEntry* entry) { m_doneBytes += entry->fileSize; }

void ConsoleHost::SetFileProgress(int percent) {
    m_filePercent = percent;
    ShowProgress();
}

void ConsoleHost::SetFileName(const char* text) {
    m_current = platform::CoreTextToLocal(text);
    m_filePercent = 0;
    ShowProgress();
}

void ConsoleHost::PrintList() {
    std::fprintf(m_out, "%10s %10s  %-8s  %s\n", "Size", "Stored", "CRC-32", "Name");
    int64_t size = 0, stored = 0;
    int count = 0;
    // The catalog list runs backwards; the queue holds archive order.
    const CatalogEntry* last = m_dialog.CatalogHead();
    for (const CatalogEntry* e = last; e && e->next; e = e->next) last = e->next;
    for (const CatalogEntry* e = last; e; e = e->prev) {
        if (!m_selection.Picks(e->path)) continue;
        std::fprintf(m_out, "%10d %10d  %08x  %s\n", e->fileSize, e->storedSize, unsigned(e->crc),
                     ShownName(e->path + 2).c_str());
        size += e->fileSize;
        stored += e->storedSize;
        ++count;
    }
    std::fprintf(m_out, "%10lld %10lld  %8s  %d file%s\n", (long long)size, (long long)stored, "", count,
                 count == 1 ? "" : "s");
}

void ConsoleHost::ShowProgress() {
    if (!m_progressShown) return;
    std::fprintf(m_err, "\r\033[K%3d%%  %s  (all files %d%%)", m_filePercent, m_current.c_str(),
                 ExtractDialogLogic::OverallPercent(m_doneBytes, m_pickedBytes));
    m_lineOpen = true;
}

void ConsoleHost::EndProgressLine() {
    if (!m_lineOpen) return;
    std::fputs("\r\033[K", m_err);
    m_lineOpen = false;
}

bool ConsoleHost::PromptKeyText(char* text, int size) {
    std::string key;
    if (m_options.key) {
        key = *m_options.key;
    } else if (m_interactive) {
        std::fputs(kKeyQuestion, m_err);
        if (!ReadLine(key, false, m_err)) return false;
    } else {
        std::fputs(kKeyRefused, m_err);
        return false;
    }
    std::snprintf(text, size_t(size), "%s", key.c_str());
    return true;
}
