#pragma once
#include <cstdint>
#include <string>

#include "platform/posix/host.h"
#include "ui/logic/extract_logic.h"

// The terminal stands in for the extraction dialog and its boxes: the same
// dialog logic runs, boxes go to stderr as "caption: text", prompts are asked
// on the terminal, answered by options, or refused.
class ConsoleHost : public platform::Host, public ExtractWindow {
public:
    enum class Overwrite { Ask, Always, Never };

    ConsoleHost(bool quiet, Overwrite overwrite, const char* key, bool listOnly);
    ~ConsoleHost() override;

    // Loads, lists or extracts; the run is over when this returns. False when
    // no catalog could be loaded.
    bool Run();

    // The host side.
    int ShowMessage(const char* text, const char* caption, unsigned type) override;
    void SendToDialog(unsigned message, intptr_t lParam) override;
    bool PromptKeyText(char* text, int size) override;

    // The window side.
    void SetCaption(const char*) override {}
    void SetFileProgress(int percent) override;
    void SetAllProgress(int percent) override;
    void SetFileName(const char* text) override;
    bool ChooseDestination() override;
    bool StartWorker(CArchiveReader* reader) override;
    void End(int) override {}

private:
    int AskOnTerminal(const char* text, const char* caption, unsigned type);
    void PrintList() const;
    void ShowProgress();
    void EndProgressLine();

    ExtractDialogLogic m_dialog{*this};
    bool m_listOnly;

    bool m_quiet;
    Overwrite m_overwrite;
    const char* m_key;
    bool m_interactive;      // stdin is a terminal: prompts can be asked
    bool m_progressShown;    // stderr is a terminal: a live progress line
    std::string m_current;
    int m_filePercent = 0;
    int m_allPercent = 0;
    bool m_lineOpen = false;
    platform::Host* m_previous;
};
