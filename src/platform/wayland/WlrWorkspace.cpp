#include "platform/wayland/WlrWorkspace.h"

#include "platform/wayland/WaylandConnection.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include <wayland-client.h>

namespace quillpost {

namespace {

void ignoreText(void *, zwlr_foreign_toplevel_handle_v1 *, const char *) {}
void ignoreOutput(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
void ignoreParent(void *, zwlr_foreign_toplevel_handle_v1 *, zwlr_foreign_toplevel_handle_v1 *) {}

} // namespace

WlrWorkspace::WlrWorkspace(WaylandConnection *connection, std::optional<QString> ownIdentifier, QObject *parent)
    : WaylandWorkspace(parent), m_connection(connection), m_ownIdentifier(std::move(ownIdentifier))
{
    if (!m_connection->toplevelManager())
        return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {&WlrWorkspace::toplevel,
                                                                        &WlrWorkspace::finished};
    zwlr_foreign_toplevel_manager_v1_add_listener(m_connection->toplevelManager(), &listener, this);
    // The compositor announces the windows that exist now; the active one counts as activated.
    m_connection->roundtrip();
}

WlrWorkspace::~WlrWorkspace()
{
    for (Toplevel *toplevel : std::as_const(m_toplevels)) {
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
        delete toplevel;
    }
    if (m_connection->toplevelManager())
        zwlr_foreign_toplevel_manager_v1_set_user_data(m_connection->toplevelManager(), nullptr);
    m_connection->flush();
}

QString WlrWorkspace::ownAppId()
{
    QString name = QGuiApplication::desktopFileName();
    if (!name.isEmpty()) {
        if (name.endsWith(QLatin1String(".desktop")))
            name.chop(8);
        return name;
    }
    const QString base = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    QStringList domain = QCoreApplication::organizationDomain().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (domain.isEmpty())
        return base;
    std::reverse(domain.begin(), domain.end());
    return domain.join(QLatin1Char('.')) + QLatin1Char('.') + base;
}

bool WlrWorkspace::isAvailable() const
{
    return m_connection->toplevelManager() && m_connection->seat() && !m_finished && m_connection->isAlive();
}

void WlrWorkspace::toplevel(void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *handle)
{
    auto *self = static_cast<WlrWorkspace *>(data);
    if (!self) { // arrived while being destroyed
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        return;
    }
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        &ignoreText,   // title
        &WlrWorkspace::handleAppId,
        &ignoreOutput, // output_enter
        &ignoreOutput, // output_leave
        &WlrWorkspace::handleState,
        &WlrWorkspace::handleDone,
        &WlrWorkspace::handleClosed,
        &ignoreParent,
    };
    auto *toplevel = new Toplevel{self, handle, self->m_nextId++, std::nullopt, false, false};
    self->m_toplevels.insert(toplevel->id, toplevel);
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, toplevel);
}

void WlrWorkspace::finished(void *data, zwlr_foreign_toplevel_manager_v1 *)
{
    if (auto *self = static_cast<WlrWorkspace *>(data))
        self->m_finished = true;
}

void WlrWorkspace::handleAppId(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *appId)
{
    auto *toplevel = static_cast<Toplevel *>(data);
    const QString value = QString::fromUtf8(appId);
    toplevel->appId = value.isEmpty() ? std::nullopt : std::optional(value);
}

void WlrWorkspace::handleState(void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *state)
{
    auto *toplevel = static_cast<Toplevel *>(data);
    toplevel->pendingActivated = false;
    const auto *values = static_cast<const uint32_t *>(state->data);
    for (size_t i = 0; i < state->size / sizeof(uint32_t); ++i) {
        if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
            toplevel->pendingActivated = true;
    }
}

void WlrWorkspace::handleDone(void *data, zwlr_foreign_toplevel_handle_v1 *)
{
    auto *toplevel = static_cast<Toplevel *>(data);
    const bool entered = toplevel->pendingActivated && !toplevel->activated;
    toplevel->activated = toplevel->pendingActivated;
    if (entered)
        emit toplevel->workspace->applicationActivated(RunningApplication{toplevel->id, 0, toplevel->appId});
}

void WlrWorkspace::handleClosed(void *data, zwlr_foreign_toplevel_handle_v1 *handle)
{
    auto *toplevel = static_cast<Toplevel *>(data);
    toplevel->workspace->m_toplevels.remove(toplevel->id);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    delete toplevel;
}

bool WlrWorkspace::isTerminated(const RunningApplication &application) const
{
    return !isAvailable() || !m_toplevels.contains(application.windowId);
}

bool WlrWorkspace::isActive(const RunningApplication &application) const
{
    const Toplevel *toplevel = m_toplevels.value(application.windowId);
    return isAvailable() && toplevel && toplevel->activated;
}

std::optional<RunningApplication> WlrWorkspace::focusedApplication() const
{
    if (!isAvailable())
        return std::nullopt;
    for (const Toplevel *toplevel : m_toplevels) {
        if (toplevel->activated)
            return RunningApplication{toplevel->id, 0, toplevel->appId};
    }
    return std::nullopt;
}

void WlrWorkspace::activate(const RunningApplication &application)
{
    const Toplevel *toplevel = m_toplevels.value(application.windowId);
    if (!isAvailable() || !toplevel)
        return;
    zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, m_connection->seat());
    m_connection->flush();
}

} // namespace quillpost
