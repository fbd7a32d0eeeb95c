#include "app/CommandLine.h"

#include "app/SingleInstance.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace quillpost {

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace

CommandResult pasteLatestCommand(SingleInstance &instance, std::chrono::milliseconds timeout)
{
    const PasteLatestReply reply = instance.requestPasteLatest(timeout);
    switch (reply.result) {
    case PasteLatestResult::Pasted:
        return {};
    case PasteLatestResult::SignedOut:
        return {signedOutStatus, QStringLiteral("Quillpost 还没有登录，没有粘贴。")};
    case PasteLatestResult::NoClip:
        return {noClipStatus, QStringLiteral("没有可粘贴的内容：当前空间还没有内容，或者最新一条所选的版本还是空的。")};
    case PasteLatestResult::Refused:
        return {refusedStatus, QStringLiteral("最新内容已复制到剪贴板，但没有自动粘贴")
                                   + (reply.detail.isEmpty() ? QString() : QStringLiteral("：") + reply.detail)
                                   + QStringLiteral("。")};
    case PasteLatestResult::NoInstance:
        return {noInstanceStatus, QStringLiteral("Quillpost 没有在运行，请先启动它。")};
    case PasteLatestResult::NoAnswer:
        break;
    }
    return {noAnswerStatus, QStringLiteral("正在运行的 Quillpost %1 秒内没有回答（旧版本不认识这个命令，重新启动它即可）。")
                                .arg(std::chrono::duration<double>(timeout).count())};
}

std::optional<int> runCommandLine(int &argc, char **argv)
{
    const bool qtOptionsTaken = QCoreApplication::instance() != nullptr;
    QStringList arguments;
    if (qtOptionsTaken) {
        arguments = QCoreApplication::arguments();
    } else {
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quillpost：接收你在手机上输入的云端文字。不带选项时启动它，已在运行时把它的窗口带到前面。\n"
                       "--paste-latest 的退出状态：0 已粘贴；3 Quillpost 没有运行；4 没有登录；5 没有可粘贴的内容；\n"
                       "6 只复制了、没有粘贴；7 Quillpost 没有回答。"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示这段帮助。"));
    const QCommandLineOption pasteLatest(
        QStringLiteral("paste-latest"),
        QStringLiteral("让正在运行的 Quillpost 把最新一条粘贴到你正在输入的应用里（给桌面的快捷键用）。"));
    parser.addOption(help);
    parser.addOption(pasteLatest);

    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        if (!qtOptionsTaken) // perhaps options of Qt's: decided once Qt has taken them
            return std::nullopt;
        const QString error = parser.errorText().isEmpty()
            ? QStringLiteral("不认识的参数：") + parser.positionalArguments().join(QLatin1Char(' '))
            : parser.errorText();
        print(stderr, QStringLiteral("quillpost: ") + error + QStringLiteral("\n\n") + parser.helpText());
        return usageStatus;
    }
    if (!parser.isSet(help) && !parser.isSet(pasteLatest))
        return std::nullopt;

    // Neither needs the display: a core application does where none exists yet.
    std::optional<QCoreApplication> core;
    if (!qtOptionsTaken)
        core.emplace(argc, argv);
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return commandDone;
    }
    SingleInstance instance;
    const CommandResult result = pasteLatestCommand(instance, SingleInstance::answerTimeout);
    if (!result.message.isEmpty())
        print(stderr, QStringLiteral("quillpost: ") + result.message + QLatin1Char('\n'));
    return result.status;
}

} // namespace quillpost
