// The bare Qt program that bench/desktop-footprint measures the receiver against: one window,
// one Chinese label and, for every line read from standard input, one card-sized widget put into
// the window and faded in from 0.28 to 1.0 over 0.42 s with Qt's own opacity effect (the widget
// of the previous line goes). Nothing else: no network, no secret store, no style sheets.
//   footprint_reference [--size WIDTHxHEIGHT]      (default 330x230)
#include <QApplication>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QSocketNotifier>
#include <QVBoxLayout>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QSize size(330, 230);
    const QStringList arguments = application.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--size")); at > 0 && at + 1 < arguments.size()) {
        const QStringList parts = arguments[at + 1].split(QLatin1Char('x'));
        if (parts.size() == 2)
            size = QSize(parts[0].toInt(), parts[1].toInt());
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("footprint reference"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("最新内容"), &window));
    layout->addStretch(1);
    window.resize(size);

    QPointer<QWidget> card;
    const auto fadeInCard = [&] {
        delete card.data();
        card = new QWidget(&window);
        card->setFixedSize(312, 132);
        card->setAutoFillBackground(true);
        QPalette palette = card->palette();
        palette.setColor(QPalette::Window, QColor(250, 250, 246));
        card->setPalette(palette);
        layout->insertWidget(1, card);
        auto *effect = new QGraphicsOpacityEffect(card);
        effect->setOpacity(0.28);
        card->setGraphicsEffect(effect);
        auto *animation = new QPropertyAnimation(effect, "opacity", card);
        animation->setDuration(420);
        animation->setStartValue(0.28);
        animation->setEndValue(1.0);
        QObject::connect(animation, &QPropertyAnimation::finished, card, [target = card] {
            target->setGraphicsEffect(nullptr);
        });
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    };

    // One fade per line of input; the end of input changes nothing.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &window, [&] {
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            input.setEnabled(false);
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            if (buffer[i] == '\n')
                fadeInCard();
        }
    });

    window.show();
    return QApplication::exec();
}
