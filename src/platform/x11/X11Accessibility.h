#pragma once

#include "platform/Accessibility.h"

namespace quillpost {

// Trusted when the program runs on an X11 display whose server has the XTEST extension, which
// is how key presses are synthesised; not trusted anywhere else (offscreen, native Wayland).
// X11 has no permission prompt, so requestTrust() has nothing to show.
class X11Accessibility final : public Accessibility
{
public:
    bool isTrusted() const override;
    void requestTrust() override {}
};

} // namespace quillpost
