// quenby-close-window: asks an X client to close one of its windows, as a window manager's close
// button would, by sending it WM_DELETE_WINDOW. Without a window manager this is the only way to
// run the program's close handling from outside (destroying the window skips it).
//
// usage: quenby-close-window WINDOW   (decimal, or hex with 0x; display from $DISPLAY)

#include <xcb/xcb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return atom;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quenby-close-window WINDOW\n");
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long id = std::strtoul(argv[1], &end, 0);
    if (*argv[1] == '\0' || *end != '\0' || errno != 0 || id == 0 || id > UINT32_MAX) {
        std::fprintf(stderr, "quenby-close-window: not a window id: %s\n", argv[1]);
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "quenby-close-window: cannot open the display\n");
        xcb_disconnect(c);
        return 1;
    }
    const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = Atom(c, "WM_DELETE_WINDOW");

    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(id);
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    event.data.data32[1] = XCB_CURRENT_TIME;
    // No event mask: the message goes to the client that created the window.
    const auto cookie = xcb_send_event_checked(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                                               reinterpret_cast<const char*>(&event));
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    int status = 0;
    if (protocols == XCB_ATOM_NONE || deleteWindow == XCB_ATOM_NONE) {
        std::fprintf(stderr, "quenby-close-window: the display has no WM_DELETE_WINDOW\n");
        status = 1;
    } else if (error) {
        std::fprintf(stderr, "quenby-close-window: no window %s (X error %d)\n", argv[1],
                     error->error_code);
        status = 1;
    }
    std::free(error);
    xcb_disconnect(c);
    return status;
}
