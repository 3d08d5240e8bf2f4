// Second-start benchmark: with a first instance hidden in the tray, the time from exec of a
// second copy until the first instance's window is mapped and holds the input focus, against
// the loader floor (a program linked with the same libraries that returns at once), in
// alternating rounds of one run.
//
//   bench_second_start <norva> <loader-floor> [rounds]
//
// The environment (home, runtime directory, NORVA_SERVICE_URL, settings that close to the tray)
// is prepared by run-all.sh. Prints one line per round and then
//   SECOND_START_MS <median>  FLOOR_MS <median>  QAPP_FLOOR_MS <median>
// Plain xcb and POSIX, so that the watcher adds nothing to either side.
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

pid_t spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

int waitExit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct X
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;

    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    }

    bool viewable(xcb_window_t w)
    {
        xcb_get_window_attributes_reply_t *r =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
        free(r);
        return v;
    }

    // The largest viewable top-level window of the process: the main window.
    xcb_window_t mainWindowOf(pid_t pid)
    {
        const xcb_atom_t pidAtom = atom("_NET_WM_PID");
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        if (!tree)
            return 0;
        xcb_window_t best = 0;
        int bestArea = 0;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_window_t w = children[i];
            xcb_get_property_reply_t *p = xcb_get_property_reply(
                c, xcb_get_property(c, 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
            const bool mine = p && xcb_get_property_value_length(p) == 4 &&
                              *static_cast<uint32_t *>(xcb_get_property_value(p)) == uint32_t(pid);
            free(p);
            if (!mine || !viewable(w))
                continue;
            xcb_get_geometry_reply_t *g =
                xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
            const int area = g ? g->width * g->height : 0;
            free(g);
            if (area > bestArea) {
                bestArea = area;
                best = w;
            }
        }
        free(tree);
        return best;
    }

    // What the window manager sends for the close button.
    void requestClose(xcb_window_t w)
    {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
        xcb_flush(c);
    }

    bool focused(xcb_window_t w)
    {
        xcb_get_input_focus_reply_t *r =
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const bool f = r && r->focus == w;
        free(r);
        return f;
    }

    // Waits for the next event on the connection, at most timeoutMs.
    xcb_generic_event_t *nextEvent(int timeoutMs)
    {
        const Clock::time_point t0 = Clock::now();
        for (;;) {
            if (xcb_generic_event_t *e = xcb_poll_for_event(c))
                return e;
            const int left = timeoutMs - int(msSince(t0));
            if (left <= 0 || xcb_connection_has_error(c))
                return nullptr;
            pollfd p = {xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&p, 1, left);
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_second_start NORVA LOADER_FLOOR [ROUNDS]\n");
        return 2;
    }
    const std::string norva = argv[1];
    const std::string floor = argv[2];
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;

    X x;
    x.c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x.c)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    x.root = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data->root;

    const pid_t first = spawn({norva});
    if (first < 0) {
        std::fprintf(stderr, "cannot start %s\n", norva.c_str());
        return 1;
    }
    xcb_window_t window = 0;
    const Clock::time_point started = Clock::now();
    while (!window && msSince(started) < 60000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window = x.mainWindowOf(first);
    }
    if (!window) {
        std::fprintf(stderr, "the first instance showed no window\n");
        kill(first, SIGTERM);
        waitExit(first);
        return 1;
    }
    // Let the page and the start-up work settle before the first hide.
    std::this_thread::sleep_for(std::chrono::seconds(3));

    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
    xcb_change_window_attributes(x.c, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x.c);

    auto hide = [&] {
        x.requestClose(window);
        const Clock::time_point t0 = Clock::now();
        while (x.viewable(window) && msSince(t0) < 10000) {
            if (xcb_generic_event_t *e = x.nextEvent(100))
                free(e);
        }
        // Drop what is still queued, then give the first instance a moment to go idle.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        while (xcb_generic_event_t *e = xcb_poll_for_event(x.c))
            free(e);
        return !x.viewable(window);
    };

    std::vector<double> second, loader, qappLoader;
    int failures = 0;
    for (int round = 0; round <= rounds; ++round) {
        // Round 0 warms the caches and is not counted.
        Clock::time_point t0 = Clock::now();
        const pid_t f = spawn({floor});
        waitExit(f);
        const double floorMs = msSince(t0);

        t0 = Clock::now();
        const pid_t q = spawn({floor, "--qapplication"});
        waitExit(q);
        const double qappMs = msSince(t0);

        if (!hide()) {
            std::fprintf(stderr, "the window did not hide to the tray\n");
            ++failures;
            break;
        }
        t0 = Clock::now();
        const pid_t s = spawn({norva});
        bool mapped = false;
        bool active = false;
        double shownMs = -1;
        while (!(mapped && active) && msSince(t0) < 10000) {
            xcb_generic_event_t *e = x.nextEvent(10);
            if (e) {
                const int type = e->response_type & 0x7f;
                if (type == XCB_MAP_NOTIFY &&
                    reinterpret_cast<xcb_map_notify_event_t *>(e)->window == window)
                    mapped = true;
                if (type == XCB_FOCUS_IN &&
                    reinterpret_cast<xcb_focus_in_event_t *>(e)->event == window &&
                    reinterpret_cast<xcb_focus_in_event_t *>(e)->detail !=
                        XCB_NOTIFY_DETAIL_POINTER)
                    active = true;
                free(e);
            } else if (mapped && !active) {
                active = x.focused(window);
            }
            if (mapped && active)
                shownMs = msSince(t0);
        }
        const int code = waitExit(s);
        if (shownMs < 0 || code != 0) {
            std::fprintf(stderr, "round %d: window %s, second copy exited with %d\n", round,
                         shownMs < 0 ? "not shown and active" : "shown", code);
            ++failures;
            continue;
        }
        std::printf("round %2d: second start %.1f ms, loader floor %.1f ms, with QApplication "
                    "%.1f ms\n",
                    round, shownMs, floorMs, qappMs);
        std::fflush(stdout);
        if (round == 0)
            continue;
        second.push_back(shownMs);
        loader.push_back(floorMs);
        qappLoader.push_back(qappMs);
    }

    kill(first, SIGTERM);
    waitExit(first);
    xcb_disconnect(x.c);
    if (second.empty())
        return 1;
    std::printf("SECOND_START_MS %.1f\nFLOOR_MS %.1f\nQAPP_FLOOR_MS %.1f\nFAILURES %d\n",
                median(second), median(loader), median(qappLoader), failures);
    return failures ? 1 : 0;
}
