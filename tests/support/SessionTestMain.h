#pragma once

#include <QApplication>
#include <QTest>

#include <cstdio>

// main() for tests that need a real X session. Without one (no display, or Qt not on xcb) the
// test cannot run: outside scripts/headless-session it exits with 77, which CTest reports as
// skipped; inside it, where a session was promised, that is a failure. The application is named
// like the program, so that our own windows carry the WM_CLASS class "Quillpost" as the
// program's do.
#define QUILLPOST_SESSION_TEST_MAIN(TestObject)                                                    \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        const auto unavailable = [] {                                                              \
            std::fputs("no X11 session: this test needs scripts/headless-session\n", stderr);    \
            return qEnvironmentVariableIsSet("QUILLPOST_HEADLESS_SESSION") ? 1 : 77;               \
        };                                                                                         \
        if (qEnvironmentVariableIsEmpty("DISPLAY"))                                                \
            return unavailable();                                                                  \
        QApplication application(argc, argv);                                                      \
        if (QGuiApplication::platformName() != QLatin1String("xcb"))                               \
            return unavailable();                                                                  \
        QApplication::setApplicationName(QStringLiteral("Quillpost"));                             \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
