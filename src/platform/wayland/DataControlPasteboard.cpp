#include "platform/wayland/DataControlPasteboard.h"

#include "platform/wayland/WaylandConnection.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <ctime>
#include <functional>
#include <unordered_map>

namespace quillpost {

// The data control objects on the pasteboard's own connection, for either protocol; used only
// in the thread that dispatches that connection, which is also where it calls its `events`
// (they pass on to the GUI thread what it must know).
class DataControlDevice : public QObject
{
public:
    struct Events
    {
        std::function<void()> changedElsewhere; // a selection without our marker
        std::function<void()> lost;             // the seat has gone: data control is over
    };

    // Offers the UTF-8 text as the clipboard, or as the primary selection where there is one.
    virtual void offer(const QByteArray &utf8, bool primary) = 0;
};

namespace {

// The text types that Wayland and X11 programs ask for.
constexpr const char *textTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"};

// write() into a pipe whose reader may have closed it, where it fails with EPIPE instead of
// raising SIGPIPE. A pipe has no MSG_NOSIGNAL, and the fd is the reader's (it cannot be made a
// socket); the SIGPIPE disposition belongs to the whole program (Qt may or may not ignore it).
// So SIGPIPE is blocked in this thread for the one write, a SIGPIPE that the write raised is
// taken off again, and the thread's mask is put back: nothing else sees a difference. A
// SIGPIPE that was pending before is left alone (it is not this write's).
ssize_t writeWithoutSigpipe(int fd, const char *data, size_t size)
{
    sigset_t pipeSignal;
    sigset_t previousMask;
    sigset_t pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec noWait{};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    errno = error;
    return written;
}

// Writes the bytes into a reader's pipe as the reader takes them, then closes it; never
// blocks its thread on a slow reader. Deletes itself when done or when the reader goes (at the
// latest with its parent).
class PipeWriter final : public QObject
{
public:
    PipeWriter(QByteArray bytes, int fd, QObject *parent)
        : QObject(parent), m_bytes(std::move(bytes)), m_fd(fd), m_notifier(fd, QSocketNotifier::Write)
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        connect(&m_notifier, &QSocketNotifier::activated, this, &PipeWriter::write);
        write(); // a short text goes at once
    }
    ~PipeWriter() override { ::close(m_fd); }

private:
    void write()
    {
        while (m_written < m_bytes.size()) {
            const ssize_t n =
                writeWithoutSigpipe(m_fd, m_bytes.constData() + m_written, size_t(m_bytes.size() - m_written));
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

    QByteArray m_bytes;
    int m_fd;
    qsizetype m_written = 0;
    QSocketNotifier m_notifier;
};

// ext_data_control_v1 replaces zwlr_data_control_unstable_v1 with the same requests and events
// under other names: one description of each, for DataControlDeviceOf.
#define QUILLPOST_DATA_CONTROL_PROTOCOL(Name, prefix, PREFIX)                                                   \
    struct Name                                                                                                 \
    {                                                                                                           \
        using Manager = prefix##_manager_v1;                                                                    \
        using Device = prefix##_device_v1;                                                                      \
        using Source = prefix##_source_v1;                                                                      \
        using Offer = prefix##_offer_v1;                                                                        \
        using DeviceListener = prefix##_device_v1_listener;                                                     \
        using SourceListener = prefix##_source_v1_listener;                                                     \
        using OfferListener = prefix##_offer_v1_listener;                                                       \
        static constexpr uint32_t primarySelectionSince = PREFIX##_DEVICE_V1_SET_PRIMARY_SELECTION_SINCE_VERSION; \
        static constexpr auto getDataDevice = &prefix##_manager_v1_get_data_device;                             \
        static constexpr auto createDataSource = &prefix##_manager_v1_create_data_source;                       \
        static constexpr auto addDeviceListener = &prefix##_device_v1_add_listener;                             \
        static constexpr auto deviceVersion = &prefix##_device_v1_get_version;                                  \
        static constexpr auto setSelection = &prefix##_device_v1_set_selection;                                 \
        static constexpr auto setPrimarySelection = &prefix##_device_v1_set_primary_selection;                  \
        static constexpr auto destroyDevice = &prefix##_device_v1_destroy;                                      \
        static constexpr auto addSourceListener = &prefix##_source_v1_add_listener;                             \
        static constexpr auto offerType = &prefix##_source_v1_offer;                                            \
        static constexpr auto destroySource = &prefix##_source_v1_destroy;                                      \
        static constexpr auto addOfferListener = &prefix##_offer_v1_add_listener;                               \
        static constexpr auto destroyOffer = &prefix##_offer_v1_destroy;                                        \
    }

QUILLPOST_DATA_CONTROL_PROTOCOL(ExtDataControl, ext_data_control, EXT_DATA_CONTROL);
QUILLPOST_DATA_CONTROL_PROTOCOL(WlrDataControl, zwlr_data_control, ZWLR_DATA_CONTROL);

#undef QUILLPOST_DATA_CONTROL_PROTOCOL

template<typename P>
class DataControlDeviceOf final : public DataControlDevice
{
public:
    // Gets the seat's data control device; `events` are called from the first change after
    // the selection of this moment (which the compositor tells at once).
    DataControlDeviceOf(WaylandConnection *connection, typename P::Manager *manager, Events events)
        : m_connection(connection), m_manager(manager)
    {
        static const typename P::DeviceListener listener = {&DataControlDeviceOf::dataOffer,
                                                            &DataControlDeviceOf::selection,
                                                            &DataControlDeviceOf::finished,
                                                            &DataControlDeviceOf::primarySelection};
        m_device = P::getDataDevice(manager, connection->seat());
        P::addDeviceListener(m_device, &listener, this);
        m_connection->roundtrip();
        m_events = std::move(events);
    }

    ~DataControlDeviceOf() override
    {
        for (const auto &[offer, marked] : m_offers)
            P::destroyOffer(offer);
        for (const auto &[source, text] : m_sources)
            P::destroySource(source);
        if (m_device)
            P::destroyDevice(m_device);
        m_connection->flush();
    }

    void offer(const QByteArray &utf8, bool primary) override
    {
        if (!m_device || (primary && P::deviceVersion(m_device) < P::primarySelectionSince))
            return;
        static const typename P::SourceListener listener = {&DataControlDeviceOf::sourceSend,
                                                            &DataControlDeviceOf::sourceCancelled};
        typename P::Source *source = P::createDataSource(m_manager);
        m_sources.emplace(source, utf8);
        P::addSourceListener(source, &listener, this);
        for (const char *type : textTypes)
            P::offerType(source, type);
        P::offerType(source, DataControlPasteboard::markerType().constData());
        (primary ? P::setPrimarySelection : P::setSelection)(m_device, source);
        m_connection->flush();
    }

private:
    static void dataOffer(void *data, typename P::Device *, typename P::Offer *offer)
    {
        static const typename P::OfferListener listener = {&DataControlDeviceOf::offerType};
        auto *self = static_cast<DataControlDeviceOf *>(data);
        self->m_offers.emplace(offer, false);
        P::addOfferListener(offer, &listener, self);
    }

    static void offerType(void *data, typename P::Offer *offer, const char *mimeType)
    {
        if (DataControlPasteboard::markerType() == mimeType)
            static_cast<DataControlDeviceOf *>(data)->m_offers[offer] = true;
    }

    // Destroys the offer that `current` held and puts `offer` there.
    void replace(typename P::Offer *&current, typename P::Offer *offer)
    {
        if (current) {
            P::destroyOffer(current);
            m_offers.erase(current);
        }
        current = offer;
    }

    static void selection(void *data, typename P::Device *, typename P::Offer *offer)
    {
        auto *self = static_cast<DataControlDeviceOf *>(data);
        self->replace(self->m_selection, offer);
        const auto found = self->m_offers.find(offer);
        const bool ours = found != self->m_offers.end() && found->second;
        if (!ours && self->m_events.changedElsewhere)
            self->m_events.changedElsewhere();
    }

    static void primarySelection(void *data, typename P::Device *, typename P::Offer *offer)
    {
        auto *self = static_cast<DataControlDeviceOf *>(data);
        self->replace(self->m_primarySelection, offer);
    }

    static void finished(void *data, typename P::Device *)
    {
        auto *self = static_cast<DataControlDeviceOf *>(data);
        P::destroyDevice(self->m_device);
        self->m_device = nullptr;
        if (self->m_events.lost)
            self->m_events.lost();
    }

    static void sourceSend(void *data, typename P::Source *source, const char *, int32_t fd)
    {
        // Every type offered is the same UTF-8 text (the marker's contents do not matter).
        auto *self = static_cast<DataControlDeviceOf *>(data);
        new PipeWriter(self->m_sources.at(source), fd, self);
    }

    static void sourceCancelled(void *data, typename P::Source *source)
    {
        static_cast<DataControlDeviceOf *>(data)->m_sources.erase(source);
        P::destroySource(source);
    }

    WaylandConnection *m_connection;
    typename P::Manager *m_manager;
    typename P::Device *m_device = nullptr;
    Events m_events;
    std::unordered_map<typename P::Offer *, bool> m_offers; // not yet destroyed: carries our marker?
    typename P::Offer *m_selection = nullptr;
    typename P::Offer *m_primarySelection = nullptr;
    std::unordered_map<typename P::Source *, QByteArray> m_sources; // ours, until cancelled: their texts
};

} // namespace

DataControlPasteboard::DataControlPasteboard(QObject *parent)
    : QObject(parent), m_connection(std::make_unique<WaylandConnection>(WaylandConnection::Role::Clipboard))
{
    if (!m_connection->isAlive() || !m_connection->seat())
        return;
    // Called in the data control thread; what they change is the GUI thread's.
    DataControlDevice::Events events{
        [this] { QMetaObject::invokeMethod(this, [this] { ++m_changes; }, Qt::QueuedConnection); },
        [this] { QMetaObject::invokeMethod(this, [this] { m_available = false; }, Qt::QueuedConnection); },
    };
    WaylandConnection *connection = m_connection.get();
    if (auto *manager = connection->extDataControlManager())
        m_device = std::make_unique<DataControlDeviceOf<ExtDataControl>>(connection, manager, std::move(events));
    else if (auto *manager = connection->wlrDataControlManager())
        m_device = std::make_unique<DataControlDeviceOf<WlrDataControl>>(connection, manager, std::move(events));
    else
        return;
    m_available = m_connection->isAlive();
    connect(m_connection.get(), &WaylandConnection::failed, this, [this] { m_available = false; });
    m_thread.setObjectName(QStringLiteral("Quillpost data control"));
    m_connection->moveToThread(&m_thread);
    m_device->moveToThread(&m_thread);
    m_thread.start();
}

DataControlPasteboard::~DataControlPasteboard()
{
    m_thread.quit();
    m_thread.wait();
    // Their thread has ended: nothing else uses them now. The device goes before its connection.
    m_device.reset();
    m_connection.reset();
}

QByteArray DataControlPasteboard::markerType()
{
    static const QByteArray marker =
        "application/x-quillpost-owner-" + QByteArray::number(QCoreApplication::applicationPid());
    return marker;
}

void DataControlPasteboard::setText(const QString &text)
{
    ++m_changes;
    if (!m_available) {
        auto *mime = new QMimeData;
        mime->setText(text);
        mime->setData(QString::fromLatin1(markerType()), QByteArray());
        QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
        return;
    }
    offer(text, false);
}

void DataControlPasteboard::setSelectionText(const QString &text)
{
    if (m_available)
        offer(text, true);
}

void DataControlPasteboard::offer(const QString &text, bool primary)
{
    QMetaObject::invokeMethod(
        m_device.get(), [device = m_device.get(), utf8 = text.toUtf8(), primary] { device->offer(utf8, primary); },
        Qt::QueuedConnection);
}

} // namespace quillpost
