#include "CardTestSupport.h"

#include "cards/CardShadowEffect.h"
#include "cards/CircularAvatar.h"
#include "cards/HexColor.h"
#include "cards/PassThroughScrollView.h"
#include "service/APIClient.h"
#include "support/TestHttpServer.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>

using namespace quillpost;
using namespace quillpost::test;
using namespace std::chrono_literals;

// The service's answer to a save: the clip as it stored it.
static ScriptedReply stored(const QByteArray &id, std::chrono::milliseconds delay = 100ms)
{
    return {200, R"({"clip":{"id":")" + id + R"(","title":"服务器标题","rawText":"服务器原文","optimizedText":"服务器优化"}})", {}, delay};
}

// The clip card, its saving against a scripted service, and the drawing helpers it is made of.
class ReceiverCardTest : public QObject
{
    Q_OBJECT

private slots:
    // The card opens on the optimized text unless that is empty. A version click shows the
    // stored text, dropping an unsaved edit also when the version stays, and reports the version
    // once; so does an assistive tool's "toggle", which is no click.
    void versions_data()
    {
        QTest::addColumn<QString>("optimized");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("version");
        QTest::newRow("opens on optimized") << "优化" << "" << 0;
        QTest::newRow("empty optimized opens on raw") << "" << "" << 1;
        QTest::newRow("blank optimized still counts") << "  \n" << "" << 0;
        QTest::newRow("same version again drops the edit") << "优化" << "optimized" << 0;
        QTest::newRow("other version drops the edit") << "优化" << "raw" << 1;
        QTest::newRow("other version toggled by an assistive tool") << "优化" << "toggle raw" << 1;
    }

    void versions()
    {
        QFETCH(QString, optimized);
        QFETCH(QString, click);
        QFETCH(int, version);
        const auto [card, calls] = makeCard(makeClip(optimized));
        if (!click.isEmpty()) {
            card->editor()->setPlainText(QStringLiteral("未保存的修改"));
            if (click.startsWith(u"toggle "))
                QAccessible::queryAccessibleInterface(card->rawButton())->actionInterface()->doAction(
                    QAccessibleActionInterface::toggleAction());
            else
                (click == u"raw" ? card->rawButton() : card->optimizedButton())->click();
        }
        QCOMPARE(card->selectedVersion(), version);
        QCOMPARE(card->editor()->toPlainText(), version == 0 ? optimized : "原始");
        QCOMPARE(qMakePair(card->optimizedButton()->isChecked(), card->rawButton()->isChecked()), qMakePair(version == 0, version == 1));
        QCOMPARE(card->clip().optimizedText, optimized);
        QCOMPARE(calls->sources, click.isEmpty() ? QStringList() : QStringList{click.split(u' ').last()});
    }

    // Copy and paste take the unsaved edit and leave the editor focused; the edit also lasts
    // while another window is active (the one the user pastes into).
    void copyPasteAndEditing()
    {
        const auto [card, calls] = makeCard(makeClip(QStringLiteral("优化")));
        card->show();
        card->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(card.get()));
        QSignalSpy editing(card.get(), &ReceiverCardView::editingChanged);
        card->editor()->setFocus();
        card->editor()->setPlainText(QStringLiteral("改过 & <b>没保存</b>"));
        QTest::mouseClick(card->copyButton(), Qt::LeftButton);
        QTest::mouseClick(card->pasteButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), "改过 & <b>没保存</b>");
        QCOMPARE(calls->pasted, QStringList{"改过 & <b>没保存</b>"});
        // Pasting is the panel's business: the card reports only the copy.
        QCOMPARE(calls->messages, (QList<QPair<QString, QColor>>{{"已复制到剪贴板", SystemColors::rgba(0.29, 0.49, 0.39, 1)}}));

        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QVERIFY(!card->editor()->hasFocus() && card->isEditing());
        card->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(card.get()));
        card->setFocus();
        QVERIFY(card->isEditing()); // out of the editor, but the edit is not saved
        card->optimizedButton()->click(); // drops it
        QCOMPARE(QList<QList<QVariant>>(editing), (QList<QList<QVariant>>{{true}, {false}}));
    }

    // Copy, paste and save hand on exactly the text shown, whatever the editor would turn it
    // into (no-break spaces, CR, CRLF, line and paragraph separators, tabs, trailing blanks,
    // emoji), and an unedited card is not being edited.
    void textsRoundTripExactly()
    {
        const QString text = QStringLiteral("十点\u00a0开会\u00a0\r一\r\n二\u2028三\u2029\t缩进  \n👍🏽 好的  \r\n");
        TestHttpServer server;
        APIClient api(server.origin(), QStringLiteral("token-1"));
        server.enqueue(stored("clip-1", 0ms));
        const auto [card, calls] = makeCard(makeClip(text), &api);
        QVERIFY(!card->isEditing());
        card->copyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        card->pasteButton()->click();
        QCOMPARE(calls->pasted, QStringList{text});
        card->saveButton()->click();
        QVERIFY(server.waitForRequests(1));
        QCOMPARE(QJsonDocument::fromJson(server.requests().first().body)["optimizedText"].toString(), text);
        // A real edit is handed on as shown.
        card->editor()->moveCursor(QTextCursor::End);
        card->editor()->insertPlainText(QStringLiteral("!"));
        QVERIFY(card->isEditing());
        card->pasteButton()->click();
        QCOMPARE(calls->pasted.last(), card->editor()->toPlainText());
    }

    void saveOutcome_data()
    {
        QTest::addColumn<bool>("raw"); // the version shown and edited
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("message"); // or a part of it
        const ScriptedReply gone{404, R"({"error":"内容不存在"})", {}, 100ms};
        QTest::newRow("saved") << false << stored("clip-1") << "修改已同步";
        QTest::newRow("service error") << true << gone << "内容不存在";
        QTest::newRow("reply about another clip") << false << stored("clip-2") << "返回的内容与原内容不符";
        // The panel drops the card while the save runs.
        QTest::newRow("card removed, saved") << true << stored("clip-1") << "修改已同步";
        QTest::newRow("card removed, failed") << false << gone << "内容不存在";
    }

    void saveOutcome()
    {
        QFETCH(bool, raw);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, message);
        TestHttpServer server;
        APIClient api(server.origin(), QStringLiteral("token-1"));
        server.enqueue(reply);
        auto [card, calls] = makeCard(makeClip(QStringLiteral("优化")), &api);
        if (raw)
            card->rawButton()->click();
        const QString edit = QStringLiteral("我的修改");
        card->editor()->setPlainText(edit);
        card->saveButton()->click();
        QVERIFY(!card->saveButton()->isEnabled());
        QVERIFY(server.waitForRequests(1));
        QCOMPARE(QJsonDocument::fromJson(server.requests().first().body).object(),
                 (QJsonObject{{"title", "会议纪要"}, {"optimizedText", raw ? "优化" : edit}, {"rawText", raw ? edit : "原始"}}));
        if (QByteArray(QTest::currentDataTag()).startsWith("card removed"))
            card.reset();

        QTRY_COMPARE(calls->messages.size(), 1);
        const auto [said, colour] = calls->messages.first();
        const bool saved = message == u"修改已同步";
        QCOMPARE(colour, saved ? SystemColors::rgba(0.29, 0.49, 0.39, 1) : SystemColors::red());
        QVERIFY2(said.contains(message) && !said.isEmpty(), qPrintable(said));
        if (!card)
            return;
        QVERIFY(card->saveButton()->isEnabled());
        QCOMPARE(card->saveButton()->text(), saved ? "已保存" : "保存");
        // A success takes the service's clip; a failure keeps the edit in the card's copy.
        QCOMPARE(card->clip().title, saved ? "服务器标题" : "会议纪要");
        QCOMPARE(raw ? card->clip().rawText : card->clip().optimizedText, saved ? (raw ? "服务器原文" : "服务器优化") : edit);
    }

    void hexColor_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("parsed"); // empty: refused
        QTest::newRow("six digits; hash, case, blanks around") << QStringList{"#A1B2C3", "\t a1b2c3 \r\n"} << "#ffa1b2c3";
        QTest::newRow("a sign takes one of the six places") << QStringList{"+0FF00"} << "#ff00ff00";
        QTest::newRow("negative keeps the low 24 bits") << QStringList{"#-FFFFF"} << "#fff00001";
        QTest::newRow("refused") << QStringList{"#ABC", ""} << "";
    }

    // The card is tinted with a colour that parses and neutral otherwise. (Which texts are refused:
    // fuzzreplay_hexcolor, whose corpus holds the short, long, doubled-hash, full-width and
    // misplaced-sign ones.)
    void hexColor()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, parsed);
        for (const QString &text : texts) {
            const std::optional<QColor> color = quillpost::hexColor(text);
            QCOMPARE(color ? color->name(QColor::HexArgb) : QString(), parsed);
            QCOMPARE(CardColors::forCollaboration(text).border.rgb(), color.value_or(CardColors::forCollaboration({}).border).rgb());
        }
    }

    // A red source with a green centred square: the avatar is that square only, as a circle
    // drawn at full device resolution.
    void avatarCrop()
    {
        for (const auto &[source, ratio] : {std::pair(QSize(40, 20), 1.0), {QSize(20, 40), 1.0}, {QSize(400, 100), 2.0}}) {
            QImage image(source, QImage::Format_RGB32);
            image.fill(Qt::red);
            const int s = std::min(source.width(), source.height());
            QPainter(&image).fillRect((source.width() - s) / 2, (source.height() - s) / 2, s, s, Qt::green);
            const QPixmap avatar = circularAvatarImage(image, 20, ratio);
            QCOMPARE(avatar.deviceIndependentSize(), QSizeF(20, 20));
            // Two device pixels inside the edge on every side, then the four corners.
            const int far = int(20 * ratio) - 1, mid = far / 2;
            const QPoint points[] = {{2, mid}, {far - 2, mid}, {mid, 2}, {mid, far - 2}, {0, 0}, {far, 0}, {0, far}, {far, far}};
            for (int i = 0; i < 8; ++i)
                QCOMPARE(avatar.toImage().pixelColor(points[i]), QColor(i < 4 ? Qt::green : Qt::transparent));
        }
    }

    // A new card fades in to full opacity, drawn from a kept image of the card.
    void arrivalFadeRedrawsTheKeptCard()
    {
        QWidget list;
        auto *layout = new QVBoxLayout(&list);
        const Clip clip = makeClip(QStringLiteral("优化"), QStringLiteral("标题"), QStringLiteral("空间"), QStringLiteral("#123456"));
        const auto [fading, fadingCalls] = makeCard(clip, nullptr, true);
        const auto [still, stillCalls] = makeCard(clip, nullptr, false);
        layout->addWidget(fading.get());
        layout->addWidget(still.get());
        QCOMPARE(fading->shadowEffect()->opacity(), ReceiverCardView::arrivalStartOpacity);
        QCOMPARE(still->shadowEffect()->opacity(), 1.0);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QTRY_COMPARE(fading->shadowEffect()->opacity(), 1.0);

        // Opaque, the cards paint directly on screen and through an image when rendered
        // elsewhere: both look the same, text edges aside (a level or two of antialiasing).
        list.repaint();
        const QImage onScreen = list.screen()->grabWindow(list.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage rendered = list.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(onScreen.size(), rendered.size());
        int largest = 0;
        for (int y = 0; y < onScreen.height(); ++y) {
            for (int x = 0; x < onScreen.width(); ++x) {
                const QRgb a = onScreen.pixel(x, y), b = rendered.pixel(x, y);
                largest = std::max({largest, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                    std::abs(qBlue(a) - qBlue(b))});
            }
        }
        QVERIFY2(largest <= 2, qPrintable(QString::number(largest)));
    }

    // Over a card's text and over its scroll bar alike, the wheel moves the list, not the text.
    void wheelGoesToEnclosingList()
    {
        QScrollArea list;
        list.setWidget(new QWidget);
        list.widget()->resize(260, 1000);
        auto *text = new PassThroughScrollView(list.widget());
        text->setPlainText(QStringLiteral("一行\n").repeated(60));
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        for (QWidget *target : {text->viewport(), static_cast<QWidget *>(text->verticalScrollBar())}) {
            const int before = list.verticalScrollBar()->value();
            QWheelEvent wheel({5, 5}, target->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, {}, {}, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(target, &wheel);
            QVERIFY(list.verticalScrollBar()->value() > before);
        }
        QCOMPARE(text->verticalScrollBar()->value(), 0);
    }
};

QTEST_MAIN(ReceiverCardTest)
#include "tst_receivercard.moc"
