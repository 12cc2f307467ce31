#pragma once

// Who shows a box for a small dialog: the dialog itself owns it.
class BoxOwner {
public:
    virtual ~BoxOwner() = default;
    virtual int ShowBox(const char* text, const char* caption, unsigned type) = 0;
};

// The destination dialog's OK with the text as typed. An empty text is
// refused with a box and the dialog stays open (false). Otherwise the text
// becomes the destination, and the temporary folder follows it when the two
// were the same text (true).
bool AcceptDestination(const char* typed, BoxOwner& owner);

// The key dialog's OK: derives key[43] from the typed text, cut to the
// 259 characters a path-sized buffer holds.
void AcceptKey(const char* typed, unsigned char* key);

// Start-up: the program's own path as argv[0] gave it, the current
// directory as the proposed destination, and TMP (or that directory) as the
// temporary folder. Every text is cut to fit its 260-byte buffer.
void InitStartPaths(const char* argv0);
