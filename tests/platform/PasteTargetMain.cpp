// A paste target for the integration tests and the latency benchmark: a multi-line text field
// as a window of its own, in its own process. It talks over standard input and output, one line
// per message; texts travel base64-encoded so that line breaks survive.
//   out: "ready <window id>"        once the window is shown and exposed
//   out: "text <base64>"            the field's whole text after every change
//   in:  "hide"      -> hides the window, then "done"
//   in:  "clipboard" -> "done <base64>" with the clipboard's text (asked from its owner)
//   in:  "copy <base64>" -> puts the text on the clipboard, then "done"
//   in:  "ping"      -> "done" (everything received before has been handled)
#include "widgets/SafePlainTextEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QSocketNotifier>
#include <QTest>

#include <unistd.h>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PasteTarget"));
    // Unbuffered: every line goes out at once, and reading stops at the end of a line, so that
    // the notifier fires again for the next one.
    QFile input;
    QFile output;
    input.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered);
    output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    const auto say = [&output](const QByteArray &line) { output.write(line + '\n'); };

    quillpost::SafePlainTextEdit window;
    window.resize(320, 200);
    QObject::connect(&window, &QPlainTextEdit::textChanged, &window,
                     [&] { say("text " + window.toPlainText().toUtf8().toBase64()); });
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &window, [&] {
        const QByteArray command = input.readLine().trimmed();
        if (command.isEmpty()) // end of input: the test has gone
            return QApplication::quit();
        if (command == "hide")
            window.hide();
        if (command.startsWith("copy "))
            QApplication::clipboard()->setText(QString::fromUtf8(QByteArray::fromBase64(command.mid(5))));
        say(command == "clipboard" ? "done " + QApplication::clipboard()->text().toUtf8().toBase64() : "done");
    });

    window.show();
    window.setFocus();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    say("ready " + QByteArray::number(window.winId()));
    return application.exec();
}
