#pragma once

namespace quillpost {

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
};

} // namespace quillpost
