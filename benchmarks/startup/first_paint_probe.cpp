// Measures a GUI program's start-up from exec to the first paint of its main
// window, and its resident memory once idle, on the X server in DISPLAY.
//
//   startup_first_paint_probe [--min-size WxH] [--idle-ms N] [--timeout-ms N] -- PROGRAM ARGS...
//
// Prints one line:  first_paint_ms=<ms> cpu_ms=<ms> rss_kb=<kB>
// (cpu_ms: the program's user and system time at its first paint).
//
// The paint is seen through the X DAMAGE extension: every top-level window
// the program creates gets a damage object, and the first damage report on a
// mapped window at least as large as --min-size is the first paint (Qt gives
// its windows no background, so the server itself draws nothing there). No
// hook in the measured program is needed. The DAMAGE requests are sent by
// hand through xcbext, so only libxcb is needed. Run it without a window
// manager: top-level windows are then children of the root window.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace {

using Clock = std::chrono::steady_clock;

xcb_extension_t damageExtension = { "DAMAGE", 0 };

struct Options {
    int minWidth = 600;
    int minHeight = 400;
    int idleMs = 3000;
    int timeoutMs = 60000;
    char **program = nullptr;
};

bool parse(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--" && i + 1 < argc) {
            options->program = argv + i + 1;
            return true;
        }
        if (i + 1 >= argc)
            return false;
        if (arg == "--min-size") {
            if (std::sscanf(argv[++i], "%dx%d", &options->minWidth, &options->minHeight) != 2)
                return false;
        } else if (arg == "--idle-ms") {
            options->idleMs = std::atoi(argv[++i]);
        } else if (arg == "--timeout-ms") {
            options->timeoutMs = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return false;
}

// DAMAGE requests: QueryVersion (minor opcode 0) must come first; Create
// (minor 1) at level RawRectangles (0) reports every drawing, so a window
// drawn before it qualifies (still small, say) is reported again later.
void damageQueryVersion(xcb_connection_t *connection)
{
    struct {
        uint8_t major, minor;
        uint16_t length;
        uint32_t clientMajor, clientMinor;
    } request = { 0, 0, 0, 1, 1 };
    // xcb uses the two entries before the request's own for its header.
    iovec parts[3] = {};
    parts[2] = { &request, sizeof request };
    const xcb_protocol_request_t info = { 1, &damageExtension, 0, 0 };
    const unsigned sequence = xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &info);
    // A reply is expected; wait for it so the server knows our version.
    xcb_generic_error_t *error = nullptr;
    void *reply = xcb_wait_for_reply(connection, sequence, &error);
    std::free(reply);
    std::free(error);
}

void damageCreate(xcb_connection_t *connection, xcb_window_t window)
{
    struct {
        uint8_t major, minor;
        uint16_t length;
        uint32_t damage, drawable;
        uint8_t level, pad[3];
    } request = { 0, 1, 0, xcb_generate_id(connection), window, 0, { 0, 0, 0 } };
    iovec parts[3] = {};
    parts[2] = { &request, sizeof request };
    const xcb_protocol_request_t info = { 1, &damageExtension, 1, 1 };
    xcb_send_request(connection, 0, parts + 2, &info);
}

bool isMainWindow(xcb_connection_t *connection, xcb_window_t window, const Options &options)
{
    auto *attributes
        = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    auto *geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    const bool main = attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE
        && geometry->width >= options.minWidth && geometry->height >= options.minHeight;
    std::free(attributes);
    std::free(geometry);
    return main;
}

// User plus system time of the whole process so far, all threads.
double cpuMs(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
        if (index == 14 || index == 15)
            ticks += std::stoul(field);
    return 1000.0 * double(ticks) / double(sysconf(_SC_CLK_TCK));
}

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

pid_t launch(char **program)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(program[0], program);
        std::perror("exec");
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fprintf(stderr, "usage: %s [--min-size WxH] [--idle-ms N] [--timeout-ms N] -- PROGRAM ARGS...\n",
            argv[0]);
        return 2;
    }
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot connect to the X server\n");
        return 2;
    }
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(connection, &damageExtension);
    if (!damage || !damage->present) {
        std::fprintf(stderr, "the X server has no DAMAGE extension\n");
        return 2;
    }
    damageQueryVersion(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const Clock::time_point start = Clock::now();
    const pid_t pid = launch(options.program);
    std::set<xcb_window_t> watched;
    double firstPaintMs = -1;
    double firstPaintCpuMs = -1;
    pollfd connectionFd = { xcb_get_file_descriptor(connection), POLLIN, 0 };
    while (firstPaintMs < 0) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (waited.count() > options.timeoutMs || waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "no first paint (program ended or time ran out)\n");
            stop(pid);
            return 1;
        }
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            poll(&connectionFd, 1, 100);
            continue;
        }
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
            if (created->parent == root && watched.insert(created->window).second) {
                damageCreate(connection, created->window);
                xcb_flush(connection);
            }
        } else if (type == damage->first_event) {
            // DamageNotify: the drawable follows the level and sequence.
            xcb_window_t drawable;
            std::memcpy(&drawable, reinterpret_cast<const char *>(event) + 4, sizeof drawable);
            if (isMainWindow(connection, drawable, options)) {
                firstPaintMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                firstPaintCpuMs = cpuMs(pid);
            }
        }
        std::free(event);
    }
    usleep(useconds_t(options.idleMs) * 1000);
    const long rss = residentKb(pid);
    stop(pid);
    xcb_disconnect(connection);
    std::printf("first_paint_ms=%.1f cpu_ms=%.0f rss_kb=%ld\n", firstPaintMs, firstPaintCpuMs, rss);
    return 0;
}
