#include "platform/wayland/DataControlPasteboard.h"

#include "platform/wayland/WaylandConnection.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstring>

namespace quillpost {

namespace {

// The text types that Wayland and X11 programs ask for.
constexpr const char *textTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"};

// Writes the bytes into a reader's pipe as the reader takes them, then closes it; never
// blocks the GUI thread on a slow reader. Deletes itself when done or when the reader goes (at
// the latest with its parent).
class PipeWriter final : public QObject
{
public:
    PipeWriter(QByteArray bytes, int fd, QObject *parent)
        : QObject(parent), m_bytes(std::move(bytes)), m_fd(fd), m_notifier(fd, QSocketNotifier::Write)
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        connect(&m_notifier, &QSocketNotifier::activated, this, &PipeWriter::write);
    }
    ~PipeWriter() override { ::close(m_fd); }

    void write()
    {
        while (m_written < m_bytes.size()) {
            const ssize_t n = ::write(m_fd, m_bytes.constData() + m_written, size_t(m_bytes.size() - m_written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return; // the notifier calls again when the reader has taken some
            if (n <= 0)
                break; // the reader has gone
            m_written += n;
        }
        m_notifier.setEnabled(false);
        deleteLater();
    }

private:
    QByteArray m_bytes;
    int m_fd;
    qsizetype m_written = 0;
    QSocketNotifier m_notifier;
};

} // namespace

struct DataControlPasteboard::Source
{
    DataControlPasteboard *pasteboard;
    QByteArray utf8;
};

DataControlPasteboard::DataControlPasteboard(WaylandConnection *connection, QObject *parent)
    : QObject(parent), m_connection(connection)
{
    if (!m_connection->dataControlManager() || !m_connection->seat())
        return;
    static const zwlr_data_control_device_v1_listener listener = {
        &DataControlPasteboard::dataOffer, &DataControlPasteboard::selection, &DataControlPasteboard::finished,
        &DataControlPasteboard::primarySelection};
    m_device = zwlr_data_control_manager_v1_get_data_device(m_connection->dataControlManager(), m_connection->seat());
    zwlr_data_control_device_v1_add_listener(m_device, &listener, this);
    // The compositor tells the current selection at once: that is where counting starts.
    m_connection->roundtrip();
    m_changes = 0;
}

DataControlPasteboard::~DataControlPasteboard()
{
    for (auto it = m_offers.cbegin(); it != m_offers.cend(); ++it)
        zwlr_data_control_offer_v1_destroy(it.key());
    for (auto it = m_sources.cbegin(); it != m_sources.cend(); ++it) {
        zwlr_data_control_source_v1_destroy(it.key());
        delete it.value();
    }
    if (m_device)
        zwlr_data_control_device_v1_destroy(m_device);
    m_connection->flush();
}

QByteArray DataControlPasteboard::markerType()
{
    return "application/x-quillpost-owner-" + QByteArray::number(QCoreApplication::applicationPid());
}

void DataControlPasteboard::setText(const QString &text)
{
    ++m_changes;
    if (!m_device) {
        auto *mime = new QMimeData;
        mime->setText(text);
        mime->setData(QString::fromLatin1(markerType()), QByteArray());
        QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
        return;
    }
    zwlr_data_control_device_v1_set_selection(m_device, offerText(text));
    m_connection->flush();
}

void DataControlPasteboard::setSelectionText(const QString &text)
{
    if (m_device && zwlr_data_control_device_v1_get_version(m_device)
                        >= ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION_SINCE_VERSION) {
        zwlr_data_control_device_v1_set_primary_selection(m_device, offerText(text));
        m_connection->flush();
    }
}

zwlr_data_control_source_v1 *DataControlPasteboard::offerText(const QString &text)
{
    static const zwlr_data_control_source_v1_listener listener = {&DataControlPasteboard::sourceSend,
                                                                  &DataControlPasteboard::sourceCancelled};
    zwlr_data_control_source_v1 *source =
        zwlr_data_control_manager_v1_create_data_source(m_connection->dataControlManager());
    auto *state = new Source{this, text.toUtf8()};
    m_sources.insert(source, state);
    zwlr_data_control_source_v1_add_listener(source, &listener, state);
    for (const char *type : textTypes)
        zwlr_data_control_source_v1_offer(source, type);
    zwlr_data_control_source_v1_offer(source, markerType().constData());
    return source;
}

void DataControlPasteboard::dataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    static const zwlr_data_control_offer_v1_listener listener = {&DataControlPasteboard::offerType};
    auto *self = static_cast<DataControlPasteboard *>(data);
    self->m_offers.insert(offer, false);
    zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void DataControlPasteboard::offerType(void *data, zwlr_data_control_offer_v1 *offer, const char *mimeType)
{
    auto *self = static_cast<DataControlPasteboard *>(data);
    if (markerType() == mimeType)
        self->m_offers[offer] = true;
}

void DataControlPasteboard::selection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    auto *self = static_cast<DataControlPasteboard *>(data);
    if (self->m_selection) {
        zwlr_data_control_offer_v1_destroy(self->m_selection);
        self->m_offers.remove(self->m_selection);
    }
    self->m_selection = offer;
    if (!offer || !self->m_offers.value(offer))
        ++self->m_changes;
}

void DataControlPasteboard::primarySelection(void *data, zwlr_data_control_device_v1 *,
                                             zwlr_data_control_offer_v1 *offer)
{
    auto *self = static_cast<DataControlPasteboard *>(data);
    if (self->m_primarySelection) {
        zwlr_data_control_offer_v1_destroy(self->m_primarySelection);
        self->m_offers.remove(self->m_primarySelection);
    }
    self->m_primarySelection = offer;
}

void DataControlPasteboard::finished(void *data, zwlr_data_control_device_v1 *)
{
    // The seat is gone: writes go through Qt from now on.
    auto *self = static_cast<DataControlPasteboard *>(data);
    zwlr_data_control_device_v1_destroy(self->m_device);
    self->m_device = nullptr;
}

void DataControlPasteboard::sourceSend(void *data, zwlr_data_control_source_v1 *, const char *, int32_t fd)
{
    // Every type offered is the same UTF-8 text (the marker's contents do not matter).
    auto *source = static_cast<Source *>(data);
    new PipeWriter(source->utf8, fd, source->pasteboard);
}

void DataControlPasteboard::sourceCancelled(void *data, zwlr_data_control_source_v1 *source)
{
    auto *state = static_cast<Source *>(data);
    state->pasteboard->m_sources.remove(source);
    zwlr_data_control_source_v1_destroy(source);
    delete state;
}

} // namespace quillpost
