#pragma once

#include <QString>

#include <optional>

namespace quillpost {

// The key combination that makes an application paste.
enum class PasteChord {
    ControlV,      // ordinary applications: paste the clipboard
    ControlShiftV, // most terminal emulators: paste the clipboard
    ShiftInsert,   // xterm and rxvt: paste the primary selection
};

// The chord for an application with the given identifier (WM_CLASS class, compared without
// regard to case). Terminal emulators don't paste on Ctrl+V; the table of those that need
// another chord is in PasteChord.cpp.
PasteChord pasteChordFor(const std::optional<QString> &identifier);

// True when the chord pastes the primary selection rather than the clipboard, so the text must
// be put there too.
constexpr bool pastesPrimarySelection(PasteChord chord)
{
    return chord == PasteChord::ShiftInsert;
}

} // namespace quillpost
