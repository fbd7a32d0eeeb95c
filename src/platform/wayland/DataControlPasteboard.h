#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QObject>
#include <QThread>

#include <memory>

namespace quillpost {

class DataControlDevice;
class WaylandConnection;

// The pasteboard of a compositor with data control (ext_data_control_manager_v1, or the older
// zwlr_data_control_manager_v1 where only that is offered: wlroots compositors, KWin): this
// process holds the clipboard while other windows have the focus. isAvailable() tells whether
// the compositor offers it; without it this pasteboard writes through Qt, which cannot hold the
// clipboard for an unfocused program.
//
// Qt can set the Wayland selection only while one of its windows has the keyboard focus, and
// deliveries write while another application has it. Even focused, Qt 6.4 asks with the serial
// of the last input event it saw, 0 when its window got the focus without one (activated by
// the compositor), and wlroots then ignores the request. So setText() always goes through data
// control, which needs neither.
//
// Data control has a connection and a thread of its own, which serve the texts we offer: when
// a window of ours pastes one of them, Qt waits for it on the GUI thread, so it must come from
// another one. Readers are written to without blocking that thread; one that leaves before it
// has the whole text ends only its own transfer.
//
// Every text we offer carries a private marker type. Changes are counted from the data control
// device's `selection` events: one whose offer lacks the marker (another program's copy, a
// cleared selection, or our own writes that bypass this seam) counts one once the GUI thread
// has learnt of it; ours were counted by setText() itself. Should data control stop working
// (the seat or the connection goes away), texts go through Qt from then on.
class DataControlPasteboard final : public QObject, public Pasteboard
{
    Q_OBJECT

public:
    explicit DataControlPasteboard(QObject *parent = nullptr);
    ~DataControlPasteboard() override;

    // True while data control holds our texts for the other programs.
    bool isAvailable() const { return m_available; }

    void setText(const QString &text) override;
    void setSelectionText(const QString &text) override;
    quint64 changeCount() const override { return m_changes; }

    // The MIME type that marks this process's texts.
    static QByteArray markerType();

private:
    void offer(const QString &text, bool primary);

    std::unique_ptr<WaylandConnection> m_connection;
    std::unique_ptr<DataControlDevice> m_device; // lives in m_thread
    QThread m_thread;
    quint64 m_changes = 0;
    bool m_available = false;
};

} // namespace quillpost
