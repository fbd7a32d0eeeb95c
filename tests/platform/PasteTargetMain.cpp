// A paste target for the integration tests and the latency benchmark: a small window with a
// multi-line text field, in its own process. It talks over standard input and output, one line
// per message; texts travel base64-encoded so that line breaks survive.
//   out: "ready <window id> <pid>"  once the window is shown and exposed
//   out: "text <base64>"            the field's whole text after every change
//   in:  "hide"      -> hides the window, then "hidden"
//   in:  "clipboard" -> "clipboard <base64>" with the clipboard's text (asked from its owner)
//   in:  "ping"      -> "pong" (everything received before has been handled)
#include "widgets/SafePlainTextEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PasteTarget"));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Paste target"));
    auto *field = new quillpost::SafePlainTextEdit(&window);
    field->setAccessibleName(QStringLiteral("Received text"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    window.resize(320, 200);
    QObject::connect(field, &QPlainTextEdit::textChanged, field,
                     [field] { say("text " + field->toPlainText().toUtf8().toBase64()); });

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &window, [&] {
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            QApplication::quit();
            return;
        }
        pending.append(buffer, count);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QByteArray command = pending.left(end);
            pending.remove(0, end + 1);
            if (command == "hide") {
                window.hide();
                say("hidden");
            } else if (command == "clipboard") {
                say("clipboard " + QApplication::clipboard()->text().toUtf8().toBase64());
            } else if (command == "ping") {
                say("pong");
            }
        }
    });

    window.show();
    field->setFocus();
    QTimer exposed;
    QObject::connect(&exposed, &QTimer::timeout, &window, [&] {
        if (window.windowHandle() && window.windowHandle()->isExposed()) {
            exposed.stop();
            say("ready " + QByteArray::number(window.winId()) + ' ' + QByteArray::number(qint64(::getpid())));
        }
    });
    exposed.start(5);
    return application.exec();
}
