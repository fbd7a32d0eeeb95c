#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace quillpost {

// What became of a request to paste the newest clip, as the asking process learns it.
enum class PasteLatestResult {
    Pasted,     // the delivery was scheduled: the text is on the clipboard, the keys follow
    SignedOut,  // the running instance shows no receiver panel (signed out, or still signing in)
    NoClip,     // the panel's scope has no clip, or the newest one's chosen version is blank
    Refused,    // the delivery stopped before any key (no permission, no target): copied only
    NoInstance, // no Quillpost listens
    NoAnswer,   // the running instance did not answer in time, or not understandably
};

struct PasteLatestReply
{
    PasteLatestResult result = PasteLatestResult::NoAnswer;
    // The running instance's status text about it (one line; may be empty).
    QString detail;

    friend bool operator==(const PasteLatestReply &, const PasteLatestReply &) = default;
};

// One Quillpost per user session. The first instance listens on a local socket in the user's
// runtime directory; a later start finds it there and sends it one request:
//
//   "show\n"          bring the window forward (a plain second start; the only request older
//                     versions send and know). No answer.
//   "paste-latest\n"  paste the newest clip; answered with one line, "pasted", "signed-out",
//                     "no-clip" or "refused", then a space and the status text when there is one,
//                     then "\n".
//
// Anything else, or a request line longer than a few dozen bytes, closes the connection
// unanswered.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // How long requestPasteLatest() waits for the answer by default.
    static constexpr std::chrono::milliseconds answerTimeout{5000};

    // `name` identifies the socket; the program uses the default, tests a name of their own.
    explicit SingleInstance(const QString &name = QStringLiteral("quillpost"), QObject *parent = nullptr);

    // True when another instance was running and has been asked to show itself.
    bool notifyRunningInstance();
    // Asks the running instance to paste its newest clip and waits for the answer, at most
    // `timeout`, running an event loop meanwhile (for a process that does nothing else).
    PasteLatestReply requestPasteLatest(std::chrono::milliseconds timeout = answerTimeout);

    // Starts listening; activationRequested() is emitted for every later plain start.
    bool listen();
    // Answers paste-latest requests with `handler` while `context` exists; until then, and
    // after, they are closed unanswered.
    void setPasteLatestHandler(QObject *context, std::function<PasteLatestReply()> handler);

signals:
    void activationRequested();

private:
    void serve(QLocalSocket *socket);

    QString m_name;
    QLocalServer *m_server = nullptr;
    QPointer<QObject> m_handlerContext;
    std::function<PasteLatestReply()> m_pasteLatestHandler;
};

} // namespace quillpost
