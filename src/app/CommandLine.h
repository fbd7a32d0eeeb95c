#pragma once

#include <QString>

#include <chrono>
#include <optional>

namespace quillpost {

class SingleInstance;

// Exit statuses of the program's command line (2 is taken: an unacceptable service origin
// stops a start).
enum CommandStatus : int {
    commandDone = 0,
    noInstanceStatus = 3, // --paste-latest: no Quillpost is running
    signedOutStatus = 4,  // it is not signed in
    noClipStatus = 5,     // it has no clip to paste
    refusedStatus = 6,    // it copied the clip but could not press the paste keys
    noAnswerStatus = 7,   // it did not answer in time
    usageStatus = 64,     // an option that is not ours (sysexits' EX_USAGE)
};

// What a command did, for the person who ran it: the exit status and a line for standard error
// (empty when it worked).
struct CommandResult
{
    int status = commandDone;
    QString message;
};

// `--paste-latest` as the second process runs it: asks the instance running behind `instance`
// and turns its answer into the command's result.
CommandResult pasteLatestCommand(SingleInstance &instance, std::chrono::milliseconds timeout);

// The program's options, --help and --paste-latest. main() calls this twice: first before any
// application object exists, where it acts only on a command line made of our own options (so
// that neither connects to the display); then, if that returned nothing, once the QApplication
// has taken Qt's own options (-session when a session manager restarts the program, -platform
// …), where whatever is left and not ours is refused with the usage text.
// Returns the exit status when this start ends here, nothing for the usual start.
std::optional<int> runCommandLine(int &argc, char **argv);

} // namespace quillpost
