// Another X client for the hot-key tests. Holds Control+Alt+Space (or one
// Lock/NumLock variant of it) the way another application would.
//
//   xgrab_helper hold plain|lock|numlock|both|all
//     grabs, prints "held" or "refused"; then on the input line "release"
//     gives the key back and prints "released"; exits at end of input.
//   xgrab_helper probe
//     exits 0 when it could grab every variant, 1 when one was refused.
#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/XcbKeyGrab.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint16_t> variantsNamed(const std::string &name, uint16_t numLock)
{
    const uint16_t base = GlobalHotKey::modifiers;
    if (name == "plain")
        return { base };
    if (name == "lock")
        return { uint16_t(base | XCB_MOD_MASK_LOCK) };
    if (name == "numlock")
        return { uint16_t(base | numLock) };
    if (name == "both")
        return { uint16_t(base | XCB_MOD_MASK_LOCK | numLock) };
    return XcbKeyGrab::lockVariants(base, numLock);
}

void say(const char *word)
{
    std::printf("%s\n", word);
    std::fflush(stdout);
}

int hold(xcb_connection_t *connection, const std::string &variant)
{
    XcbKeyGrab grab(connection, XcbKeyGrab::defaultRoot(connection));
    const uint16_t numLock = XcbKeyGrab::numLockMask(connection);
    say(grab.grabExactly(GlobalHotKey::keysym, variantsNamed(variant, numLock)) ? "held" : "refused");
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "release", 7) == 0) {
            grab.release();
            say("released");
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: xgrab_helper hold VARIANT | probe\n");
        return 2;
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "xgrab_helper: cannot connect to the X server\n");
        xcb_disconnect(connection);
        return 2;
    }
    int status = 0;
    const std::string mode = argv[1];
    if (mode == "hold") {
        status = hold(connection, argc > 2 ? argv[2] : "all");
    } else {
        XcbKeyGrab grab(connection, XcbKeyGrab::defaultRoot(connection));
        status = grab.grab(GlobalHotKey::keysym, GlobalHotKey::modifiers) ? 0 : 1;
    }
    xcb_disconnect(connection);
    return status;
}
