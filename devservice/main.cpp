// quillpost-devservice: a local stand-in for the cloud clip service.

#include "Clock.h"
#include "DemoSeed.h"
#include "Faults.h"
#include "Optimizer.h"
#include "Service.h"
#include "Store.h"

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/socket.h>
#include <string>
#include <string_view>
#include <thread>

using namespace quillpost::devservice;

namespace {

constexpr const char *usage = R"(usage: quillpost-devservice [options]

  --port N               port on 127.0.0.1 (default 8765; 0 picks a free one)
  --db PATH              SQLite database (default $XDG_STATE_HOME/quillpost-devservice/clips.sqlite3;
                         ":memory:" keeps nothing)
  --fixed-code CODE      every SMS code is CODE (4 to 8 digits)
  --seed demo            create the demo account (phone 13800000000) and its data, once
  --optimize-delay-ms N  time until a new clip gets its optimized text (default 1500)
  --faults               enable the "_faults" endpoint that scripts replies for tests
  --help                 show this text

The first line of output names the address the service listens on.
)";

struct Options
{
    int port = 8765;
    std::string db;
    std::optional<std::string> fixedCode;
    bool seedDemo = false;
    std::chrono::milliseconds optimizeDelay{1500};
    bool faults = false;
};

[[noreturn]] void refuse(const std::string &message)
{
    std::fprintf(stderr, "quillpost-devservice: %s\n\n%s", message.c_str(), usage);
    std::exit(2);
}

long long number(std::string_view option, const char *text, long long minimum, long long maximum)
{
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || value < minimum || value > maximum)
        refuse(std::string(option) + " needs a number from " + std::to_string(minimum) + " to " + std::to_string(maximum));
    return value;
}

std::string defaultDatabase()
{
    std::filesystem::path base;
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        base = state;
    else if (const char *home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".local" / "state";
    else
        refuse("neither XDG_STATE_HOME nor HOME is set: give --db PATH");
    const std::filesystem::path directory = base / "quillpost-devservice";
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        refuse("cannot create " + directory.string() + ": " + error.message());
    return (directory / "clips.sqlite3").string();
}

Options parse(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                refuse(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "--port") {
            options.port = static_cast<int>(number(arg, value(), 0, 65535));
        } else if (arg == "--db") {
            options.db = value();
            if (options.db.empty())
                refuse("--db needs a path");
        } else if (arg == "--fixed-code") {
            const std::string code = value();
            if (code.size() < 4 || code.size() > 8 || code.find_first_not_of("0123456789") != std::string::npos)
                refuse("--fixed-code needs 4 to 8 digits");
            options.fixedCode = code;
        } else if (arg == "--seed") {
            if (std::string_view(value()) != "demo")
                refuse("--seed knows only \"demo\"");
            options.seedDemo = true;
        } else if (arg == "--optimize-delay-ms") {
            options.optimizeDelay = std::chrono::milliseconds(number(arg, value(), 0, 3'600'000));
        } else if (arg == "--faults") {
            options.faults = true;
        } else {
            refuse("unknown option " + std::string(arg));
        }
    }
    if (options.db.empty())
        options.db = defaultDatabase();
    return options;
}

std::mutex consoleMutex;

void printLine(const std::string &line)
{
    std::lock_guard lock(consoleMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parse(argc, argv);

    // A client that goes away mid-reply must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by one thread that stops the server; every other thread,
    // started after this, inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        Store store(options.db);
        const bool seeded = options.seedDemo && store.seedOnce("demo", demoSeed(), nowMs());

        Optimizer optimizer(store, options.optimizeDelay);
        for (const std::string &clipId : store.pendingClips())
            optimizer.schedule(clipId);

        Faults faults;
        Service service(store, optimizer, {options.fixedCode, options.faults ? &faults : nullptr}, printLine);

        httplib::Server server;
        // One worker per open connection: keep-alive connections of the program, a browser and
        // a load generator must not wait for each other.
        server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        server.set_tcp_nodelay(true);
        // cpp-httplib's default also sets SO_REUSEPORT, which lets a second service bind the same
        // port and share its connections; a port in use must be refused instead.
        server.set_socket_options([](int socket) {
            const int on = 1;
            setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        });
        server.set_keep_alive_max_count(100'000);
        service.install(server);

        int port = options.port;
        if (port == 0)
            port = server.bind_to_any_port("127.0.0.1");
        else if (!server.bind_to_port("127.0.0.1", port))
            port = -1;
        if (port <= 0) {
            std::fprintf(stderr, "quillpost-devservice: cannot listen on 127.0.0.1:%d\n", options.port);
            return 1;
        }
        printLine("quillpost-devservice listening on http://127.0.0.1:" + std::to_string(port) + "/");
        printLine("database: " + options.db);
        if (seeded)
            printLine(std::string("demo data created: sign in with ") + demoPhone);

        std::atomic<bool> stopRequested = false;
        std::mutex finishedMutex;
        std::condition_variable finishedChanged;
        bool finished = false;
        std::thread stopper([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            stopRequested = true;
            server.stop();
            // Workers of idle keep-alive connections notice the stop only when their read
            // times out (5 s). A stop does not wait for them: what was committed is safe in
            // the database whatever happens to the process.
            std::unique_lock lock(finishedMutex);
            if (!finishedChanged.wait_for(lock, std::chrono::seconds(1), [&] { return finished; })) {
                std::fflush(stdout);
                std::_Exit(0);
            }
        });
        const bool listened = server.listen_after_bind();
        {
            std::lock_guard lock(finishedMutex);
            finished = true;
        }
        finishedChanged.notify_one();
        // When listening ended for another reason, wake the stopper so that it can be joined.
        if (!stopRequested)
            pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
        return listened ? 0 : 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "quillpost-devservice: %s\n", error.what());
        return 1;
    }
}
