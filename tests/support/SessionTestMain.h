#pragma once

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <functional>

namespace quillpost::test {

// main() of a test that needs a desktop session brought up by one of the session scripts of
// scripts/, which sets `sessionVariable`. Without that session the test cannot run: it exits
// with 77, which CTest reports as skipped; inside it, where the session was promised, a session
// that is unusable is a failure. `prepare` runs before the application connects; Qt must then
// run on `platform`. The application is named like the program, so that our own windows carry
// the program's WM_CLASS class and app_id.
template<typename Test>
int sessionTestMain(int argc, char **argv, const char *sessionVariable, const char *platform,
                    const std::function<bool()> &prepare = {})
{
    const auto unavailable = [sessionVariable](const char *why) {
        std::fprintf(stderr, "%s: this test needs the session script that sets %s\n", why, sessionVariable);
        return qEnvironmentVariableIsSet(sessionVariable) ? 1 : 77;
    };
    if (!qEnvironmentVariableIsSet(sessionVariable))
        return unavailable("no such session");
    if (prepare && !prepare())
        return unavailable("cannot prepare the session");
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String(platform))
        return unavailable("Qt does not run on the session's platform");
    QApplication::setApplicationName(QStringLiteral("Quillpost"));
    QApplication::setDesktopFileName(QStringLiteral(QUILLPOST_APP_ID));
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace quillpost::test

// main() for tests that need the X11 session of scripts/headless-session.
#define QUILLPOST_SESSION_TEST_MAIN(TestObject)                                                           \
    int main(int argc, char **argv)                                                                       \
    {                                                                                                     \
        return quillpost::test::sessionTestMain<TestObject>(argc, argv, "QUILLPOST_HEADLESS_SESSION", "xcb"); \
    }
