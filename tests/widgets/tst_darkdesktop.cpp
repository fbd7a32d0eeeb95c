// The screens on a desktop with a dark theme: every text keeps its contrast against what is
// drawn behind it.

#include "fakes/FakePlatform.h"
#include "inbox/AlertSound.h"
#include "inbox/InboxViewController.h"
#include "receiver/CompactInboxViewController.h"
#include "service/APIClient.h"
#include "signin/LoginViewController.h"
#include "support/FakeSecretStore.h"
#include "support/TestHttpServer.h"

#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QListView>
#include <QTest>

#include <cmath>
#include <functional>

using namespace quillpost;
using namespace quillpost::test;

namespace {

// The contrast ratio of two colours as the web's accessibility guidelines define it (1 to 21).
double contrast(QColor a, QColor b)
{
    const auto luminance = [](const QColor &c) {
        const auto channel = [](float v) { return v <= 0.03928f ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text drawn in `area` of `image`: its most frequent colour is taken for
// the background, the colour that differs most from it for the text.
double textContrast(const QImage &image, const QRect &area)
{
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            std::tie(background, most) = std::pair(it.key(), it.value());
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(QColor(it.key()), QColor(background)));
    return best;
}

QPalette darkDesktop()
{
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    return dark;
}

struct SilentSound final : AlertSound { void play() override {} };

} // namespace

class DarkDesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server.setHandler([](const RecordedRequest &) {
            return ScriptedReply::json(200, R"({"clips":[{"id":"a","title":"会议纪要","rawText":"原文",)"
                                            R"("optimizedText":"明天上午十点开会"},{"id":"b","title":"购物清单",)"
                                            R"("rawText":"牛奶","optimizedText":"牛奶、鸡蛋"}]})");
        });
    }

    // Each text as the screen shows it once its first poll is in.
    void textsKeepTheirContrast_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("widget"); // object name
        QTest::newRow("sign-in, phone field") << "signin" << "phone";
        QTest::newRow("sign-in, message") << "signin" << "message";
        QTest::newRow("panel, status line") << "panel" << "status";
        QTest::newRow("panel, nickname") << "panel" << "accountButton";
        QTest::newRow("inbox, status line") << "inbox" << "status";
        QTest::newRow("inbox, nickname") << "inbox" << "nickname";
        QTest::newRow("inbox, row not selected") << "inbox" << "clips";
        QTest::newRow("inbox, title field") << "inbox" << "titleField";
    }
    void textsKeepTheirContrast()
    {
        QFETCH(QString, screen);
        QFETCH(QString, widget);
        const double onLight = textContrast(screen, widget, QPalette(QColor(0xef, 0xef, 0xef), QColor(0xf6, 0xf6, 0xf6)));
        const double onDark = textContrast(screen, widget, darkDesktop());
        // As readable as on a light desktop, and readable at all.
        QVERIFY2(onDark >= std::min(onLight, 3.0) - 0.1 && onDark >= 1.8,
                 qPrintable(QStringLiteral("contrast %1 on a dark desktop, %2 on a light one").arg(onDark).arg(onLight)));
    }

private:
    // The contrast of `widget`'s text in `screen` (signin, panel or inbox) on a desktop with
    // `desktop` as its palette, once the screen shows what its first request brought.
    double textContrast(const QString &screen, const QString &widget, const QPalette &desktop)
    {
        QApplication::setPalette(desktop);
        const Profile profile{"13800000000", "小明", std::nullopt};
        std::unique_ptr<QWidget> window;
        std::function<bool()> ready;
        if (screen == "signin") {
            window = std::make_unique<LoginViewController>(&m_api, &m_store, [](Profile) {});
            window->findChild<QLineEdit *>("phone")->setText(QStringLiteral("13800000000"));
            window->findChild<QPushButton *>("loginButton")->click(); // the reply is no sign-in: a message
            ready = [&] { return !window->findChild<QLabel *>("message")->text().isEmpty(); };
        } else if (screen == "panel") {
            auto *panel = new CompactInboxViewController(&m_api, profile, m_platform.platform(), &m_store,
                                                         [](bool) {}, [] {});
            window.reset(panel);
            ready = [panel] { return panel->statusText() == QStringLiteral("● 已同步"); };
        } else {
            auto *inbox = new InboxViewController(&m_api, profile, m_platform.platform(), &m_store, &m_sound, [] {});
            window.reset(inbox);
            ready = [inbox] { return !inbox->titleField()->text().isEmpty(); };
        }
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()) || !QTest::qWaitFor(ready, 10000))
            return 0;
        QWidget *target = window->findChild<QWidget *>(widget);
        if (!target || !target->isVisible())
            return 0;
        QRect area(target->mapTo(window.get(), QPoint(0, 0)), target->size());
        if (auto *list = qobject_cast<QListView *>(target)) // the second row, which is not selected
            area = list->visualRect(list->model()->index(1, 0)).translated(list->viewport()->mapTo(window.get(), QPoint()));
        const QImage image = window->grab().toImage();
        return ::textContrast(image, area & image.rect());
    }

    TestHttpServer m_server;
    APIClient m_api{m_server.origin(), QStringLiteral("token")};
    FakePlatform m_platform;
    FakeSecretStore m_store;
    SilentSound m_sound;
};

QTEST_MAIN(DarkDesktopTest)
#include "tst_darkdesktop.moc"
