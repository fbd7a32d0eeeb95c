#pragma once

#include <QApplication>
#include <QTest>

// main() for tests that need a real X session: exits with 77 (CTest's "skipped") when there is
// no display. The application is named like the program, so that our own windows carry the
// WM_CLASS class "Quillpost" as the program's do.
#define QUILLPOST_SESSION_TEST_MAIN(TestObject)                                                    \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        if (qEnvironmentVariableIsEmpty("DISPLAY"))                                                \
            return 77;                                                                             \
        QApplication application(argc, argv);                                                      \
        QApplication::setApplicationName(QStringLiteral("Quillpost"));                             \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
