#pragma once

#include <QObject>

struct ca_context;

namespace quillpost {

// A short sound that tells the user something new has arrived. play() returns at once and never
// blocks the event loop; it reports nothing.
class AlertSound
{
public:
    virtual ~AlertSound() = default;
    virtual void play() = 0;
};

// The desktop sound theme's new-message sound ("message-new-instant"), played through
// libcanberra and the desktop's sound server. Where no sound can be played (no sound server, the
// sound is missing from the theme) it falls back to the system beep; where the user has switched event sounds
// off it stays silent. Lives on the GUI thread.
class ThemeAlertSound final : public QObject, public AlertSound
{
    Q_OBJECT

public:
    static constexpr const char *eventId = "message-new-instant";

    explicit ThemeAlertSound(QObject *parent = nullptr);
    ~ThemeAlertSound() override;

    void play() override;

    // Whether libcanberra can be used here; where not, play() beeps. Loads it at the first call.
    static bool libraryAvailable();

private:
    // Called by libcanberra on its own thread when a sound has finished or failed.
    static void finished(ca_context *context, uint32_t id, int errorCode, void *self);
    static void beep();

    ca_context *m_context = nullptr;
    bool m_unavailable = false;
};

} // namespace quillpost
