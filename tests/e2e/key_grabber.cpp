// Another X client that holds a key combination: grabs KEYCODE with MODIFIERS (and every
// lock variant) on the root window, prints "grabbed" (or "refused") and then "pressed" for
// every press, until it is killed.
//
//   e2e_key_grabber KEYCODE MODIFIERS
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_key_grabber KEYCODE MODIFIERS\n");
        return 2;
    }
    const auto keycode = static_cast<xcb_keycode_t>(std::atoi(argv[1]));
    const auto modifiers = static_cast<uint16_t>(std::atoi(argv[2]));
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Lock, and Mod2 (NumLock on the servers this runs on).
    const uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    bool refused = false;
    for (uint16_t variant : variants) {
        xcb_void_cookie_t cookie = xcb_grab_key_checked(c, 0, root, uint16_t(modifiers | variant), keycode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t *error = xcb_request_check(c, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    std::printf(refused ? "refused\n" : "grabbed\n");
    std::fflush(stdout);
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        if ((event->response_type & ~0x80) == XCB_KEY_PRESS) {
            std::printf("pressed\n");
            std::fflush(stdout);
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
