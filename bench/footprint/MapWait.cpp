// Starts a program and prints, once one of its windows is mapped on the X display, the time
// since the start and the CPU time the program has used until then (both in milliseconds), then
// ends the program (SIGTERM) and waits for it. The window is recognised by its _NET_WM_PID.
//   footprint_mapwait PROGRAM [ARG...]
// Exit status 1 when no window of the program was mapped within 60 s.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

long windowPid(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t pidAtom)
{
    const auto cookie = xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4)
        return -1;
    return long(*static_cast<uint32_t *>(xcb_get_property_value(reply.get())));
}

bool viewable(xcb_connection_t *connection, xcb_window_t window)
{
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr), &std::free);
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

// utime + stime of a process, in milliseconds.
double cpuMs(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: footprint_mapwait PROGRAM [ARG...]\n");
        return 2;
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "footprint_mapwait: no X display\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootMask);
    const xcb_atom_t pidAtom = atom(connection, "_NET_WM_PID");
    xcb_flush(connection);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }

    int status = 1;
    const Clock::time_point deadline = start + std::chrono::seconds(60);
    pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (status == 1 && Clock::now() < deadline) {
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            if (xcb_connection_has_error(connection))
                break;
            poll(&fd, 1, 100);
            continue;
        }
        const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owned(event, &std::free);
        xcb_window_t mapped = XCB_WINDOW_NONE;
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            // A new top-level window: follow its own map and unmap from now on; it may have been
            // mapped already in between.
            const xcb_window_t window = reinterpret_cast<xcb_create_notify_event_t *>(event)->window;
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
            if (viewable(connection, window))
                mapped = window;
            break;
        }
        case XCB_MAP_NOTIFY:
            mapped = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
            break;
        default:
            break;
        }
        if (mapped != XCB_WINDOW_NONE && windowPid(connection, mapped, pidAtom) == long(child)) {
            const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            std::printf("%.1f %.0f\n", wallMs, cpuMs(child));
            status = 0;
        }
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    xcb_disconnect(connection);
    if (status != 0)
        std::fprintf(stderr, "footprint_mapwait: no window of %s was mapped\n", argv[1]);
    return status;
}
