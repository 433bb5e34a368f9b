// A minimal X11 drag source (XDND version 5) for the end-to-end test: drags
// files over the window named WINDOW and either drops them or leaves;
// "text-leave" offers the same names as plain text only, then leaves.
//   xdnd_drag WINDOW drop|leave|text-leave FILE...
// It prints "hovering" once the window has answered, then waits for a line on
// standard input before it leaves or drops.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Atoms {
    Atom aware, enter, position, status, leave, drop, finished, selection, copy, uri_list, text;
    explicit Atoms(Display* display)
        : aware(XInternAtom(display, "XdndAware", False)),
          enter(XInternAtom(display, "XdndEnter", False)),
          position(XInternAtom(display, "XdndPosition", False)),
          status(XInternAtom(display, "XdndStatus", False)),
          leave(XInternAtom(display, "XdndLeave", False)),
          drop(XInternAtom(display, "XdndDrop", False)),
          finished(XInternAtom(display, "XdndFinished", False)),
          selection(XInternAtom(display, "XdndSelection", False)),
          copy(XInternAtom(display, "XdndActionCopy", False)),
          uri_list(XInternAtom(display, "text/uri-list", False)),
          text(XInternAtom(display, "text/plain;charset=utf-8", False)) {}
};

bool has_property(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) != Success) {
        return false;
    }
    if (data != nullptr) XFree(data);
    return type != None;
}

// GTK gives its hidden leader window the same name; the largest one is the
// real window.
void find_windows(Display* display, Window parent, const std::string& name, Atom aware, std::vector<Window>& found) {
    Window root_return = 0, parent_return = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root_return, &parent_return, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) {
        char* title = nullptr;
        if (XFetchName(display, children[i], &title) && title != nullptr) {
            if (name == title && has_property(display, children[i], aware)) found.push_back(children[i]);
            XFree(title);
        }
        find_windows(display, children[i], name, aware, found);
    }
    if (children != nullptr) XFree(children);
}

std::optional<Window> find_window(Display* display, Window root, const std::string& name, Atom aware) {
    std::vector<Window> found;
    find_windows(display, root, name, aware, found);
    std::optional<Window> largest;
    long largest_area = 0;
    for (Window window : found) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window, &attributes)) continue;
        long area = static_cast<long>(attributes.width) * attributes.height;
        if (area > largest_area) {
            largest_area = area;
            largest = window;
        }
    }
    return largest;
}

void send(Display* display, Window target, Atom type, long l0, long l1, long l2, long l3, long l4) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = target;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);
}

// Serves the selection and waits for the client message `until` (None: just
// serve for the whole time), up to a time limit.
bool pump(Display* display, Atom offered, const std::string& uris, Atom until, long* status_accept,
          std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionRequest) {
                auto& request = event.xselectionrequest;
                XEvent reply{};
                reply.xselection.type = SelectionNotify;
                reply.xselection.requestor = request.requestor;
                reply.xselection.selection = request.selection;
                reply.xselection.target = request.target;
                reply.xselection.time = request.time;
                reply.xselection.property = None;
                if (request.target == offered) {
                    Atom property = request.property != None ? request.property : request.target;
                    XChangeProperty(display, request.requestor, property, offered, 8, PropModeReplace,
                                    reinterpret_cast<const unsigned char*>(uris.data()), static_cast<int>(uris.size()));
                    reply.xselection.property = property;
                }
                XSendEvent(display, request.requestor, False, NoEventMask, &reply);
                XFlush(display);
            } else if (event.type == ClientMessage && event.xclient.message_type == until) {
                if (status_accept != nullptr) *status_accept = event.xclient.data.l[1] & 1;
                return true;
            }
        }
        struct timespec pause = {0, 10'000'000};
        nanosleep(&pause, nullptr);
    }
    return until == None;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: xdnd_drag WINDOW drop|leave|text-leave FILE...\n", stderr);
        return 2;
    }
    const std::string name = argv[1];
    const bool drop = std::strcmp(argv[2], "drop") == 0;
    const bool text_only = std::strcmp(argv[2], "text-leave") == 0;
    std::string uris;
    for (int i = 3; i < argc; ++i) uris += std::string("file://") + argv[i] + "\r\n";

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 3;
    Atoms atoms(display);
    const Atom offered = text_only ? atoms.text : atoms.uri_list;
    Window root = DefaultRootWindow(display);
    auto target = find_window(display, root, name, atoms.aware);
    if (!target) {
        std::fprintf(stderr, "no drop-aware window named %s\n", name.c_str());
        return 4;
    }
    Window source = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, atoms.selection, source, CurrentTime);

    XWindowAttributes attributes;
    XGetWindowAttributes(display, *target, &attributes);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, *target, root, attributes.width / 2, attributes.height / 2, &x, &y, &child);

    send(display, *target, atoms.enter, static_cast<long>(source), 5L << 24, static_cast<long>(offered), 0, 0);
    send(display, *target, atoms.position, static_cast<long>(source), 0, (static_cast<long>(x) << 16) | y, CurrentTime,
         static_cast<long>(atoms.copy));
    long accepted = 0;
    if (!pump(display, offered, uris, atoms.status, &accepted)) {
        std::fputs("no XdndStatus\n", stderr);
        return 5;
    }
    // The pointer keeps moving over the window, as in a real drag, and the
    // files stay on offer until the caller writes a line: it waits for the
    // page to see the drag come in.
    std::puts("hovering");
    std::fflush(stdout);
    for (int nudge = 1;; ++nudge) {
        send(display, *target, atoms.position, static_cast<long>(source), 0,
             (static_cast<long>(x + nudge % 2) << 16) | y, CurrentTime, static_cast<long>(atoms.copy));
        if (!pump(display, offered, uris, atoms.status, &accepted)) return 5;
        pump(display, offered, uris, None, nullptr, std::chrono::milliseconds(50));
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 0) > 0) break;
    }
    std::printf("accepted=%ld\n", accepted);
    if (!drop) {
        send(display, *target, atoms.leave, static_cast<long>(source), 0, 0, 0, 0);
        XCloseDisplay(display);
        return 0;
    }
    send(display, *target, atoms.drop, static_cast<long>(source), 0, CurrentTime, 0, 0);
    if (!pump(display, offered, uris, atoms.finished, nullptr)) {
        std::fputs("no XdndFinished\n", stderr);
        return 6;
    }
    XCloseDisplay(display);
    return 0;
}
