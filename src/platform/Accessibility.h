#pragma once

namespace quillpost {

// Why key presses may not be sent, so that the status line can say what the user can do.
enum class MissingTrust {
    Permission,       // the desktop's permission for synthetic input is not given
    ConsentRefused,   // the user refused or withdrew the desktop's remote-control consent
    NotOffered,       // the compositor offers this program no way to type into other windows
    NoClipboardOwner, // the compositor offers no way to hold the clipboard while unfocused
};

// Whether this program may send synthetic key presses to other applications.
//
// isTrusted() answers now, every time it is asked (nothing is cached by callers).
// requestTrust() asks the desktop to show its own permission prompt where one exists; its
// outcome is not reported (the next isTrusted() tells). On X11 there is no such prompt, so the
// X11 implementation does nothing there; callers still keep their once-only bookkeeping.
class Accessibility
{
public:
    virtual ~Accessibility() = default;
    virtual bool isTrusted() const = 0;
    virtual void requestTrust() = 0;
    // Meaningful only while isTrusted() is false.
    virtual MissingTrust missingTrust() const { return MissingTrust::Permission; }
};

} // namespace quillpost
