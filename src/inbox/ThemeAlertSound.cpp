#include "inbox/AlertSound.h"

#include <QApplication>

#include <canberra.h>

namespace quillpost {

namespace {

// Errors after which a beep stands in for the sound. A disabled sound (the user switched event
// sounds off) and a cancelled or destroyed one are meant to stay silent.
bool beepsInstead(int errorCode)
{
    return errorCode != CA_SUCCESS && errorCode != CA_ERROR_DISABLED && errorCode != CA_ERROR_CANCELED
           && errorCode != CA_ERROR_DESTROYED;
}

} // namespace

ThemeAlertSound::ThemeAlertSound(QObject *parent)
    : QObject(parent)
{
}

ThemeAlertSound::~ThemeAlertSound()
{
    // Destroying the context cancels what still plays and waits for libcanberra's threads, so
    // no finished() call can reach this object afterwards.
    if (m_context)
        ca_context_destroy(m_context);
}

void ThemeAlertSound::play()
{
    if (!m_context && !m_unavailable) {
        // Made at the first sound rather than at start-up: opening the sound server costs a
        // little, and many sessions never need it.
        // Only through the sound server (PulseAudio or PipeWire): libcanberra's fall-back to
        // raw ALSA prints ALSA's errors on standard error where there is no sound card, and the
        // beep serves there.
        if (ca_context_create(&m_context) == CA_SUCCESS) {
            ca_context_set_driver(m_context, "pulse");
            ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Quillpost", CA_PROP_APPLICATION_ID,
                                    "com.tallowmere.quillpost", nullptr);
        } else {
            m_context = nullptr;
            m_unavailable = true;
        }
    }
    if (!m_context) {
        beep();
        return;
    }

    ca_proplist *properties = nullptr;
    if (ca_proplist_create(&properties) != CA_SUCCESS) {
        beep();
        return;
    }
    ca_proplist_sets(properties, CA_PROP_EVENT_ID, eventId);
    ca_proplist_sets(properties, CA_PROP_EVENT_DESCRIPTION, "新内容");
    ca_proplist_sets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "permanent");
    const int result = ca_context_play_full(m_context, 0, properties, &ThemeAlertSound::finished, this);
    ca_proplist_destroy(properties);
    if (beepsInstead(result))
        beep();
}

void ThemeAlertSound::finished(ca_context *, uint32_t, int errorCode, void *self)
{
    if (!beepsInstead(errorCode))
        return;
    // Posting to a living object is safe from any thread; the event is dropped if the object
    // is destroyed before the GUI thread gets to it.
    QMetaObject::invokeMethod(static_cast<ThemeAlertSound *>(self), &ThemeAlertSound::beep, Qt::QueuedConnection);
}

void ThemeAlertSound::beep()
{
    QApplication::beep();
}

} // namespace quillpost
