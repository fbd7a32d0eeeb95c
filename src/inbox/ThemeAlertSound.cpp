#include "inbox/AlertSound.h"

#include <QApplication>
#include <QLibrary>

#include <canberra.h>

#include <optional>
#include <type_traits>

namespace quillpost {

namespace {

// libcanberra's functions, looked up when the first sound plays: linked, the library and its
// codecs would be loaded into every run, and many runs never play a sound.
struct Canberra
{
    decltype(&ca_context_create) contextCreate;
    decltype(&ca_context_set_driver) setDriver;
    decltype(&ca_context_change_props) changeProps;
    decltype(&ca_context_play_full) playFull;
    decltype(&ca_context_destroy) contextDestroy;
    decltype(&ca_proplist_create) proplistCreate;
    decltype(&ca_proplist_sets) proplistSets;
    decltype(&ca_proplist_destroy) proplistDestroy;
};

// Null where the library is missing. It stays loaded for the rest of the run.
const Canberra *canberra()
{
    static const std::optional<Canberra> loaded = []() -> std::optional<Canberra> {
        QLibrary library(QStringLiteral("canberra"), 0);
        if (!library.load())
            return std::nullopt;
        const auto find = [&library](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
            return function != nullptr;
        };
        Canberra c{};
        if (!find(c.contextCreate, "ca_context_create") || !find(c.setDriver, "ca_context_set_driver")
            || !find(c.changeProps, "ca_context_change_props") || !find(c.playFull, "ca_context_play_full")
            || !find(c.contextDestroy, "ca_context_destroy") || !find(c.proplistCreate, "ca_proplist_create")
            || !find(c.proplistSets, "ca_proplist_sets") || !find(c.proplistDestroy, "ca_proplist_destroy"))
            return std::nullopt;
        return c;
    }();
    return loaded ? &*loaded : nullptr;
}

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
        canberra()->contextDestroy(m_context);
}

bool ThemeAlertSound::libraryAvailable()
{
    return canberra() != nullptr;
}

void ThemeAlertSound::play()
{
    const Canberra *library = canberra();
    if (!m_context && !m_unavailable) {
        // Made at the first sound rather than at start-up: opening the sound server costs a
        // little, and many sessions never need it.
        // Only through the sound server (PulseAudio or PipeWire): libcanberra's fall-back to
        // raw ALSA prints ALSA's errors on standard error where there is no sound card, and the
        // beep serves there.
        if (library && library->contextCreate(&m_context) == CA_SUCCESS) {
            library->setDriver(m_context, "pulse");
            library->changeProps(m_context, CA_PROP_APPLICATION_NAME, "Quillpost", CA_PROP_APPLICATION_ID,
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
    if (library->proplistCreate(&properties) != CA_SUCCESS) {
        beep();
        return;
    }
    library->proplistSets(properties, CA_PROP_EVENT_ID, eventId);
    library->proplistSets(properties, CA_PROP_EVENT_DESCRIPTION, "新内容");
    library->proplistSets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "permanent");
    const int result = library->playFull(m_context, 0, properties, &ThemeAlertSound::finished, this);
    library->proplistDestroy(properties);
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
