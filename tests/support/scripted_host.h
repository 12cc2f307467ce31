#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/console/host.h"

// Stands in for the dialog and the boxes: records every box and every message
// in order, and answers from a script.
class ScriptedHost : public platform::Host {
public:
    struct Box {
        std::string caption;
        std::string text;
        unsigned type;
        bool operator==(const Box& o) const {
            return caption == o.caption && text == o.text && type == o.type;
        }
        friend void PrintTo(const Box& b, std::ostream* os) {
            *os << "{\"" << b.caption << "\", \"" << b.text << "\", 0x" << std::hex << b.type << std::dec << "}";
        }
    };
    struct Message {
        unsigned id;
        intptr_t lParam;
        std::string text;  // the text at lParam for WM_EXTRACT_FILENAME
    };

    ScriptedHost();
    ~ScriptedHost() override;

    int ShowMessage(const char* text, const char* caption, unsigned type) override;
    void SoundBeep(unsigned type) override { beeps.push_back(type); }
    void SendToDialog(unsigned message, intptr_t lParam) override;
    bool PromptKeyText(char* text, int size) override;
    bool IsRemovableDrive(const char* path) override;

    // Answers for boxes with buttons (IDYES, IDNO, ...), taken in order; an OK-only
    // box needs none. Running out answers IDCANCEL.
    std::deque<int> answers;
    // Keys to type, in order; running out means the key dialog was cancelled.
    std::deque<std::string> keys;
    bool removable = false;
    // Called after each message is recorded (e.g. to press Cancel at a chosen moment).
    std::function<void(ScriptedHost&, const Message&)> onMessage;
    // Called after each box is recorded, before it is answered (e.g. to insert a disk).
    std::function<void(ScriptedHost&, const Box&)> onBox;

    std::vector<Box> boxes;
    std::vector<Message> messages;
    std::vector<unsigned> beeps;
    int keyPrompts = 0;

    // The messages in a compact form: "name(lParam)" with names for lParams that are texts
    // and "done(displayName)" for finished entries, e.g. {"FILENAME a.txt", "PROGRESS 100", ...}.
    std::vector<std::string> Trace() const;

private:
    platform::Host* m_previous;
};
