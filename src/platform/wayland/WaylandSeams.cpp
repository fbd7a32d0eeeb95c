#include "platform/wayland/WaylandSeams.h"

#include "platform/wayland/WaylandConnection.h"

namespace quillpost {

void WaylandKeystroke::post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys,
                            Completion report)
{
    if (!isAvailable()) {
        report(KeystrokeResult::Unavailable);
        return;
    }
    if (!m_workspace->isActive(target)) {
        report(KeystrokeResult::NotFocused);
        return;
    }
    if (!mayType(beforeKeys)) {
        report(KeystrokeResult::Stopped);
        return;
    }
    type(chordKeys(chord));
    m_connection->flush();
    report(m_connection->isAlive() ? KeystrokeResult::Posted : KeystrokeResult::Unavailable);
}

} // namespace quillpost
