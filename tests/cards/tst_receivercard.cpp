#include "CardTestSupport.h"

#include "cards/ElidedLabel.h"
#include "platform/SystemColors.h"
#include "widgets/SafePlainTextEdit.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGraphicsOpacityEffect>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace quillpost;
using namespace quillpost::test;

class ReceiverCardTest : public QObject
{
    Q_OBJECT

private slots:
    void initialVersion_data();
    void initialVersion();
    void versionClickReloadsStoredText_data();
    void versionClickReloadsStoredText();
    void copyAndPasteUseEditedText();
    void colours_data();
    void colours();
    void longTitleIsElidedAtTail();
    void arrivalFade();
    void editingFollowsEditorFocus();
};

void ReceiverCardTest::initialVersion_data()
{
    QTest::addColumn<QString>("optimized");
    QTest::addColumn<QString>("raw");
    QTest::addColumn<int>("version");

    QTest::newRow("both texts") << "优化" << "原始" << 0;
    QTest::newRow("empty optimized") << "" << "原始" << 1;
    QTest::newRow("blank optimized still counts") << "  \n" << "原始" << 0;
    QTest::newRow("empty raw does not matter") << "优化" << "" << 0;
    QTest::newRow("both empty") << "" << "" << 1;
}

void ReceiverCardTest::initialVersion()
{
    QFETCH(QString, optimized);
    QFETCH(QString, raw);
    QFETCH(int, version);

    const auto calls = std::make_shared<CardCalls>();
    const auto card = makeCard(makeClip(optimized, raw), calls);
    QCOMPARE(card->selectedVersion(), version);
    QCOMPARE(card->editor()->toPlainText(), version == 0 ? optimized : raw);
    QCOMPARE(card->optimizedButton()->isChecked(), version == 0);
    QCOMPARE(card->rawButton()->isChecked(), version == 1);
    QCOMPARE(card->optimizedButton()->text(), QStringLiteral("优化版"));
    QCOMPARE(card->rawButton()->text(), QStringLiteral("原文"));
    // Building the card tells the panel nothing.
    QVERIFY(calls->sources.isEmpty());
    QVERIFY(calls->messages.isEmpty());
}

void ReceiverCardTest::versionClickReloadsStoredText_data()
{
    QTest::addColumn<bool>("clickRaw");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("source");

    QTest::newRow("same version again") << false << 0 << "优化" << "optimized";
    QTest::newRow("other version") << true << 1 << "原始" << "raw";
}

void ReceiverCardTest::versionClickReloadsStoredText()
{
    QFETCH(bool, clickRaw);
    QFETCH(int, version);
    QFETCH(QString, shown);
    QFETCH(QString, source);

    const auto calls = std::make_shared<CardCalls>();
    const auto card = makeCard(makeClip(QStringLiteral("优化"), QStringLiteral("原始")), calls);
    card->editor()->setPlainText(QStringLiteral("未保存的修改"));

    QPushButton *button = clickRaw ? card->rawButton() : card->optimizedButton();
    button->click();
    QCOMPARE(card->selectedVersion(), version);
    QCOMPARE(card->editor()->toPlainText(), shown);
    QCOMPARE(card->optimizedButton()->isChecked(), version == 0);
    QCOMPARE(card->rawButton()->isChecked(), version == 1);
    // The stored clip is untouched by the dropped edit.
    QCOMPARE(card->clip().optimizedText, QStringLiteral("优化"));
    QCOMPARE(card->clip().rawText, QStringLiteral("原始"));

    // Every click reports, whether or not the version changed.
    button->click();
    QCOMPARE(calls->sources, QStringList({source, source}));
}

void ReceiverCardTest::copyAndPasteUseEditedText()
{
    const auto calls = std::make_shared<CardCalls>();
    const auto card = makeCard(makeClip(QStringLiteral("优化"), QStringLiteral("原始")), calls);
    card->editor()->setPlainText(QStringLiteral("改过 & <b>没保存</b>"));

    QGuiApplication::clipboard()->setText(QStringLiteral("之前的内容"));
    card->copyButton()->click();
    QCOMPARE(QGuiApplication::clipboard()->text(QClipboard::Clipboard), QStringLiteral("改过 & <b>没保存</b>"));
    QCOMPARE(calls->messages.size(), 1);
    QCOMPARE(calls->messages.first().first, QStringLiteral("已复制到剪贴板"));
    QCOMPARE(calls->messages.first().second, SystemColors::rgba(0.29, 0.49, 0.39, 1));

    card->pasteButton()->click();
    QCOMPARE(calls->pasted, QStringList{QStringLiteral("改过 & <b>没保存</b>")});
    // Pasting is the panel's business: the card reports nothing of its own.
    QCOMPARE(calls->messages.size(), 1);
    QVERIFY(calls->sources.isEmpty());
}

void ReceiverCardTest::colours_data()
{
    QTest::addColumn<QString>("collaborationColor");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("border");
    QTest::addColumn<QColor>("label");

    const QColor neutralBackground = SystemColors::rgba(1, 1, 1, 0.78);
    const QColor neutralBorder = SystemColors::rgba(0.87, 0.91, 0.88, 1);
    const QColor neutralLabel = SystemColors::tertiaryLabel();
    QTest::newRow("none") << "" << neutralBackground << neutralBorder << neutralLabel;
    QTest::newRow("malformed") << "#GGGGGG" << neutralBackground << neutralBorder << neutralLabel;
    QTest::newRow("short form") << "#36C" << neutralBackground << neutralBorder << neutralLabel;

    QColor background(0x33, 0x66, 0xCC);
    background.setAlphaF(0.16f);
    QColor border(0x33, 0x66, 0xCC);
    border.setAlphaF(0.58f);
    QTest::newRow("#3366CC") << "#3366CC" << background << border << SystemColors::rgba(0.13, 0.26, 0.52, 1);
}

void ReceiverCardTest::colours()
{
    QFETCH(QString, collaborationColor);
    QFETCH(QColor, background);
    QFETCH(QColor, border);
    QFETCH(QColor, label);

    Clip clip = makeClip(QStringLiteral("优化"), {});
    clip.collaborationColor = collaborationColor;
    const auto card = makeCard(clip, std::make_shared<CardCalls>());
    const CardColors &colors = card->colors();
    const auto near = [](const QColor &a, const QColor &b) {
        return std::abs(a.redF() - b.redF()) < 0.01 && std::abs(a.greenF() - b.greenF()) < 0.01
            && std::abs(a.blueF() - b.blueF()) < 0.01 && std::abs(a.alphaF() - b.alphaF()) < 0.01;
    };
    QVERIFY2(near(colors.background, background), qPrintable(colors.background.name(QColor::HexArgb)));
    QVERIFY2(near(colors.border, border), qPrintable(colors.border.name(QColor::HexArgb)));
    QVERIFY2(near(colors.collaborationLabel, label), qPrintable(colors.collaborationLabel.name(QColor::HexArgb)));
}

void ReceiverCardTest::longTitleIsElidedAtTail()
{
    Clip clip = makeClip(QStringLiteral("优化"), {});
    clip.title = QStringLiteral("这是一个非常非常长的标题，").repeated(8) + QStringLiteral("结尾");
    clip.collaborationName = QStringLiteral("市场部");
    clip.collaborationColor = QStringLiteral("#2E9E6B");
    const auto card = makeCard(clip, std::make_shared<CardCalls>());
    card->resize(300, card->sizeHint().height());
    card->show();
    QVERIFY(QTest::qWaitForWindowExposed(card.get()));

    // The row keeps the card's width: the title gives way, not the card.
    QCOMPARE(card->width(), 300);
    ElidedLabel *title = card->titleLabel();
    QVERIFY(title->isElided());
    QVERIFY(title->displayedText().endsWith(u'…'));
    QVERIFY(title->displayedText().startsWith(QStringLiteral("这是一个")));
    QVERIFY(title->fontMetrics().horizontalAdvance(title->displayedText()) <= title->contentsRect().width());
    QCOMPARE(QAccessible::queryAccessibleInterface(title)->text(QAccessible::Name), clip.title);
    QVERIFY(title->toolTip().contains(QStringLiteral("结尾")));
    // The space's name stays whole; the title gives way.
    QVERIFY(!card->collaborationLabel()->isElided());

    // A space name that would fill the row is cut too, and the card keeps its width.
    clip.collaborationName = QStringLiteral("很长的协作空间名称").repeated(6);
    const auto crowded = makeCard(clip, std::make_shared<CardCalls>());
    crowded->resize(300, crowded->sizeHint().height());
    crowded->show();
    QVERIFY(QTest::qWaitForWindowExposed(crowded.get()));
    QCOMPARE(crowded->width(), 300);
    QVERIFY(crowded->collaborationLabel()->isElided());
    QVERIFY(crowded->titleLabel()->width() > 0);
}

void ReceiverCardTest::arrivalFade()
{
    QWidget list;
    auto *layout = new QVBoxLayout(&list);
    const auto calls = std::make_shared<CardCalls>();
    auto plain = makeCard(makeClip(QStringLiteral("旧"), {}), calls, nullptr, false);
    auto fresh = makeCard(makeClip(QStringLiteral("新"), {}), calls, nullptr, true);
    layout->addWidget(plain.get());
    layout->addWidget(fresh.get());
    list.show();

    QWidget *plainSurface = plain->findChild<QWidget *>(QStringLiteral("cardSurface"));
    QWidget *freshSurface = fresh->findChild<QWidget *>(QStringLiteral("cardSurface"));
    QVERIFY(plainSurface && freshSurface);
    QVERIFY(!plainSurface->graphicsEffect());
    auto *fade = qobject_cast<QGraphicsOpacityEffect *>(freshSurface->graphicsEffect());
    QVERIFY(fade);
    QCOMPARE(fade->opacity(), ReceiverCardView::arrivalStartOpacity);

    QElapsedTimer elapsed;
    elapsed.start();
    // The fade runs to full opacity and then leaves the card drawn without an effect.
    QTRY_VERIFY_WITH_TIMEOUT(!freshSurface->graphicsEffect(), 3000);
    QVERIFY(elapsed.elapsed() >= 400);
}

void ReceiverCardTest::editingFollowsEditorFocus()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *other = new QPushButton(QStringLiteral("别处"), &window);
    layout->addWidget(other);
    auto card = makeCard(makeClip(QStringLiteral("优化"), {}), std::make_shared<CardCalls>());
    layout->addWidget(card.get());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QSignalSpy spy(card.get(), &ReceiverCardView::editingChanged);
    QVERIFY(!card->isEditing());
    card->editor()->setFocus();
    QVERIFY(card->isEditing());
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);

    // Clicking the card's own buttons leaves the editor focused.
    card->copyButton()->click();
    QTest::mouseClick(card->copyButton(), Qt::LeftButton);
    QVERIFY(card->isEditing());

    // Another window taking activation (the user goes to the application to paste into) does
    // not end the edit: the editor is still the focus widget of the card's window.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    QVERIFY(!card->editor()->hasFocus());
    QVERIFY(card->isEditing());
    QCOMPARE(spy.size(), 1);

    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QVERIFY(!card->isEditing());
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
}

QTEST_MAIN(ReceiverCardTest)
#include "tst_receivercard.moc"
