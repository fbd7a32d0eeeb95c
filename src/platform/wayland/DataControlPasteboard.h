#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace quillpost {

class WaylandConnection;

// The pasteboard of a compositor with data control (zwlr_data_control_manager_v1: wlroots
// compositors, KWin). Use only when the connection has the manager and a seat.
//
// Qt can set the Wayland selection only while one of its windows has the keyboard focus, and
// deliveries write while another application has it. Even focused, Qt 6.4 asks with the serial
// of the last input event it saw, 0 when its window got the focus without one (activated by
// the compositor), and wlroots then ignores the request. So setText() always goes through
// data control, which needs neither. The cost: a paste into one of our own windows of a text
// that we put on the clipboard waits on our own GUI thread, and Qt gives up after a second.
//
// Every text we offer carries a private marker type. Changes are counted from the data
// control device's `selection` events: one whose offer lacks the marker (another program's
// copy, a cleared selection, or our own writes that bypass this seam) counts one; ours were
// counted by setText() itself. Texts are served to readers without blocking.
class DataControlPasteboard final : public QObject, public Pasteboard
{
    Q_OBJECT

public:
    explicit DataControlPasteboard(WaylandConnection *connection, QObject *parent = nullptr);
    ~DataControlPasteboard() override;

    void setText(const QString &text) override;
    void setSelectionText(const QString &text) override;
    quint64 changeCount() const override { return m_changes; }

    // The MIME type that marks this process's texts.
    static QByteArray markerType();

private:
    struct Source;

    zwlr_data_control_source_v1 *offerText(const QString &text);

    static void dataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void selection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void finished(void *data, zwlr_data_control_device_v1 *);
    static void primarySelection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void offerType(void *data, zwlr_data_control_offer_v1 *offer, const char *mimeType);
    static void sourceSend(void *data, zwlr_data_control_source_v1 *, const char *mimeType, int32_t fd);
    static void sourceCancelled(void *data, zwlr_data_control_source_v1 *source);

    WaylandConnection *m_connection;
    zwlr_data_control_device_v1 *m_device = nullptr;
    QHash<zwlr_data_control_offer_v1 *, bool> m_offers; // offers not yet destroyed: carries our marker?
    zwlr_data_control_offer_v1 *m_selection = nullptr;
    zwlr_data_control_offer_v1 *m_primarySelection = nullptr;
    QHash<zwlr_data_control_source_v1 *, Source *> m_sources; // ours, until cancelled
    quint64 m_changes = 0;
};

} // namespace quillpost
