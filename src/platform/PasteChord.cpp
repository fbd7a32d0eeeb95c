#include "platform/PasteChord.h"

#include <array>
#include <utility>

namespace quillpost {

namespace {

// Terminal emulators by their X11 WM_CLASS class and by their Wayland app_id (compared without
// regard to case). Add a terminal here when it doesn't paste on Ctrl+V.
constexpr std::array<std::pair<const char *, PasteChord>, 36> terminalChords{{
    // VTE-based terminals
    {"Gnome-terminal", PasteChord::ControlShiftV},
    {"gnome-terminal-server", PasteChord::ControlShiftV},
    {"org.gnome.Terminal", PasteChord::ControlShiftV},
    {"org.gnome.Console", PasteChord::ControlShiftV},
    {"kgx", PasteChord::ControlShiftV},
    {"org.gnome.Ptyxis", PasteChord::ControlShiftV},
    {"Xfce4-terminal", PasteChord::ControlShiftV},
    {"Mate-terminal", PasteChord::ControlShiftV},
    {"Lxterminal", PasteChord::ControlShiftV},
    {"Tilix", PasteChord::ControlShiftV},
    {"com.gexperts.Tilix", PasteChord::ControlShiftV},
    {"Terminator", PasteChord::ControlShiftV},
    {"Guake", PasteChord::ControlShiftV},
    {"Tilda", PasteChord::ControlShiftV},
    {"Sakura", PasteChord::ControlShiftV},
    {"Roxterm", PasteChord::ControlShiftV},
    {"Deepin-terminal", PasteChord::ControlShiftV},
    {"com.raggesilver.BlackBox", PasteChord::ControlShiftV},
    // Others with their own rendering
    {"konsole", PasteChord::ControlShiftV},
    {"org.kde.konsole", PasteChord::ControlShiftV},
    {"org.kde.yakuake", PasteChord::ControlShiftV},
    {"com.mitchellh.ghostty", PasteChord::ControlShiftV},
    {"kitty", PasteChord::ControlShiftV},
    {"Alacritty", PasteChord::ControlShiftV},
    {"org.wezfurlong.wezterm", PasteChord::ControlShiftV},
    {"foot", PasteChord::ControlShiftV},
    {"footclient", PasteChord::ControlShiftV},
    {"terminology", PasteChord::ControlShiftV},
    {"qterminal", PasteChord::ControlShiftV},
    {"st-256color", PasteChord::ControlShiftV},
    // xterm and the rxvt family paste the primary selection on Shift+Insert
    {"XTerm", PasteChord::ShiftInsert},
    {"UXTerm", PasteChord::ShiftInsert},
    {"URxvt", PasteChord::ShiftInsert},
    {"Rxvt", PasteChord::ShiftInsert},
    {"Eterm", PasteChord::ShiftInsert},
    {"Aterm", PasteChord::ShiftInsert},
}};

} // namespace

PasteChord pasteChordFor(const std::optional<QString> &identifier)
{
    if (!identifier)
        return PasteChord::ControlV;
    for (const auto &[name, chord] : terminalChords) {
        if (identifier->compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return chord;
    }
    return PasteChord::ControlV;
}

} // namespace quillpost
