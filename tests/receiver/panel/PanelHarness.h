#pragma once

#include "cards/ReceiverCardView.h"
#include "fakes/FakePlatform.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace quillpost::test {

inline Clip clip(const QString &id, const QString &updatedAt, const QString &optimized, const QString &raw = QString(),
                 const QString &collaboration = QString())
{
    Clip result;
    result.id = id;
    result.title = QStringLiteral("标题 ") + id;
    result.updatedAt = updatedAt;
    result.optimizedText = optimized;
    result.rawText = raw.isNull() ? QStringLiteral("raw ") + id : raw;
    result.collaborationName = collaboration;
    return result;
}

inline QByteArray clipListJson(const QList<Clip> &clips)
{
    QJsonArray array;
    for (const Clip &clip : clips)
        array.append(clip.toJson());
    return QJsonDocument(QJsonObject{{QStringLiteral("clips"), array}}).toJson(QJsonDocument::Compact);
}

// One panel against a scripted service that answers every poll with `serviceClips` (or with
// whatever has been enqueued), on the platform fakes.
struct PanelHarness
{
    TestHttpServer server;
    APIClient api{server.origin(), QStringLiteral("token-1")};
    FakePlatform fake;
    FakeSecretStore store;
    QList<Clip> serviceClips;
    QList<bool> pinCalls;
    int logouts = 0;
    bool deletePanelOnLogout = false;
    std::unique_ptr<CompactInboxViewController> panel;

    explicit PanelHarness(const Profile &profile = defaultProfile())
    {
        store.stored = QStringLiteral("token-1");
        server.setHandler([this](const RecordedRequest &) { return ScriptedReply::json(200, clipListJson(serviceClips)); });
        panel = std::make_unique<CompactInboxViewController>(
            &api, profile, fake.platform(), &store, [this](bool pinned) { pinCalls << pinned; },
            [this] {
                ++logouts;
                if (deletePanelOnLogout)
                    panel.reset();
            });
    }

    static Profile defaultProfile()
    {
        Profile profile;
        profile.phone = QStringLiteral("13800000000");
        profile.nickname = QStringLiteral("小明");
        return profile;
    }

    QNetworkAccessManager *network() const { return api.findChild<QNetworkAccessManager *>(); }

    // One poll answered with `clips`; without `refresh`, the fetch the constructor started.
    bool poll(const QList<Clip> &clips, bool refresh = true)
    {
        serviceClips = clips;
        QSignalSpy finished(network(), &QNetworkAccessManager::finished);
        if (refresh)
            panel->refresh();
        return QTest::qWaitFor([&] { return finished.size() >= 1; }, 5000);
    }
    bool firstReply(const QList<Clip> &clips) { return poll(clips, false); }

    QStringList cardIds() const
    {
        QStringList ids;
        for (const ReceiverCardView *card : panel->cards())
            ids << card->clip().id;
        return ids;
    }

    // The texts that reached the clipboard, in order.
    QStringList clipboardWrites() const
    {
        QStringList texts;
        const QString prefix = QStringLiteral("pasteboard.setText ");
        for (const QString &entry : fake.log) {
            if (entry.startsWith(prefix))
                texts << entry.mid(prefix.size());
        }
        return texts;
    }
};

} // namespace quillpost::test
