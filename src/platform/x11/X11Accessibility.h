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
    // Nothing the user could allow: the server (or the platform) has no way to type.
    MissingTrust missingTrust() const override { return MissingTrust::NotOffered; }
};

} // namespace quillpost
