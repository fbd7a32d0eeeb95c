// Preloaded (LD_PRELOAD) into the program by bench/desktop-footprint for its long memory run;
// the program itself is not changed. It takes the place of QTimer::setInterval(int):
//  - the timer named "pollTimer" gets QUILLPOST_FOOTPRINT_POLL_MS instead of its own interval,
//    so that a thousand polls take seconds rather than most of an hour;
//  - at each tick count in QUILLPOST_FOOTPRINT_MARKS (comma-separated), the line
//    "TICKS VmHWM VmRSS" (kB, from /proc/self/status) is appended to QUILLPOST_FOOTPRINT_LOG.
// Every other timer is passed on to Qt unchanged.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTimer>
#include <QVariant>

#include <dlfcn.h>

namespace {

using SetInterval = void (*)(QTimer *, int);

SetInterval qtSetInterval()
{
    static const auto real =
        reinterpret_cast<SetInterval>(dlvsym(RTLD_NEXT, "_ZN6QTimer11setIntervalEi", "Qt_6"));
    return real;
}

QByteArray statusField(const QByteArray &status, const QByteArray &name)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).simplified().split(' ').value(0);
    }
    return "?";
}

void writeMark(int ticks)
{
    QFile statusFile(QStringLiteral("/proc/self/status"));
    if (!statusFile.open(QIODevice::ReadOnly))
        return;
    const QByteArray status = statusFile.readAll();
    QFile log(qEnvironmentVariable("QUILLPOST_FOOTPRINT_LOG"));
    if (!log.open(QIODevice::Append))
        return;
    log.write(QByteArray::number(ticks) + ' ' + statusField(status, "VmHWM") + ' ' + statusField(status, "VmRSS")
              + '\n');
}

void countTicks(QTimer *timer)
{
    if (timer->property("footprintCounted").toBool())
        return;
    timer->setProperty("footprintCounted", true);
    QList<int> marks;
    for (const QByteArray &mark : qgetenv("QUILLPOST_FOOTPRINT_MARKS").split(','))
        marks.append(mark.toInt());
    QObject::connect(timer, &QTimer::timeout, timer, [marks, ticks = 0]() mutable {
        if (marks.contains(++ticks))
            writeMark(ticks);
    });
}

} // namespace

void QTimer::setInterval(int msec)
{
    const int pollMs = qEnvironmentVariableIntValue("QUILLPOST_FOOTPRINT_POLL_MS");
    if (pollMs > 0 && objectName() == QLatin1String("pollTimer")) {
        msec = pollMs;
        countTicks(this);
    }
    qtSetInterval()(this, msec);
}
