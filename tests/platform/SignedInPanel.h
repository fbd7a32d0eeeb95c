#pragma once

// The receiver panel on a desktop's real seams, signed in to a local clip service with the demo
// clips: where the session tests that drive the whole panel start from.
#include "DevService.h"
#include "PasteTargetProcess.h"

#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "support/FakeSecretStore.h"

#include <QElapsedTimer>

#include <memory>

namespace quillpost::test {

class SignedInPanel
{
public:
    // False when the service did not start or did not sign in.
    bool start(const Platform &platform)
    {
        if (!m_service.start())
            return false;
        m_token = m_service.signIn(QStringLiteral("13800000000"));
        m_api = std::make_unique<APIClient>(m_service.url({}).adjusted(QUrl::RemovePath), m_token);
        m_panel = std::make_unique<CompactInboxViewController>(m_api.get(), Profile{}, platform, &m_store,
                                                               [](bool) {}, [] {});
        return !m_token.isEmpty();
    }

    // Asks the panel for the newest clip, as `quillpost --paste-latest` does: whether that clip
    // was typed into `target` exactly once. Prints how long it took to arrive.
    bool pastesLatestOnceInto(PasteTargetProcess &target)
    {
        QElapsedTimer clock;
        clock.start();
        if (m_panel->pasteLatest() != CompactInboxViewController::PasteLatestOutcome::Scheduled)
            return false;
        const QString newest = m_panel->currentClips().first().optimizedText;
        if (!PasteTargetProcess::waitFor([&] { return target.text == newest; }, 15000))
            return false;
        qInfo("the newest clip was in the target %lld ms after it was asked for", clock.elapsed());
        return target.sync() && target.text == newest;
    }

    DevService &service() { return m_service; }
    const QString &token() const { return m_token; }
    CompactInboxViewController &panel() { return *m_panel; }

private:
    DevService m_service{demoArguments()};
    QString m_token;
    std::unique_ptr<APIClient> m_api;
    FakeSecretStore m_store;
    std::unique_ptr<CompactInboxViewController> m_panel;
};

} // namespace quillpost::test
