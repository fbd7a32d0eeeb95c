#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace quillpost::test {

// One reply as a plain HTTP client sees it.
struct HttpReply
{
    int status = 0; // 0: no HTTP reply (see `error`)
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QJsonObject json() const; // the body as an object, empty when it is none
    QString errorText() const { return json().value(QStringLiteral("error")).toString(); }
};

// quillpost-devservice run as a child process on a free port, with a blocking HTTP client
// for it. Without "--db" in `arguments` it keeps its data in memory.
class DevService
{
public:
    explicit DevService(QStringList arguments = {});
    ~DevService();

    // Starts the process and reads its port from the first line of its output.
    bool start();
    // Ends it with SIGTERM; true when it exited normally with code 0.
    bool stop();

    QUrl url(const QString &path) const;
    // Everything the service printed so far, one entry per line.
    QStringList console();

    // Sends "Content-Type: application/json" and the given headers.
    HttpReply request(const QByteArray &method, const QString &path, const QByteArray &body = {},
                      const QList<QPair<QByteArray, QByteArray>> &headers = {});
    HttpReply get(const QString &path, const QString &token = {});
    HttpReply send(const QByteArray &method, const QString &path, const QJsonObject &body, const QString &token = {});
    HttpReply sendRaw(const QByteArray &method, const QString &path, const QByteArray &body, const QString &token);

    // Requests a code and signs in with "123456" (the service must run with --fixed-code 123456);
    // gives the token, or an empty text on failure.
    QString signIn(const QString &phone, const QString &nickname = QStringLiteral("测试用户"));

private:
    QStringList m_arguments;
    QProcess m_process;
    QNetworkAccessManager m_network;
    QByteArray m_output;
    quint16 m_port = 0;
};

// The standard arguments of tests that sign in: the code is always 123456 and the script
// endpoint is on.
QStringList testArguments(QStringList more = {});

} // namespace quillpost::test
