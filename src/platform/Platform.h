#pragma once

#include "platform/Accessibility.h"
#include "platform/Keystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

namespace quillpost {

// The desktop seams that a screen needs to deliver text, passed to its constructor by value.
// The pointers are not owned and never null. Whoever creates them (makePlatform() in the program,
// FakePlatform in tests) keeps them alive longer than every screen and every delayed keystroke
// job that uses them.
struct Platform
{
    Pasteboard *pasteboard = nullptr;
    Workspace *workspace = nullptr;
    Accessibility *accessibility = nullptr;
    Keystroke *keystroke = nullptr;
};

} // namespace quillpost
