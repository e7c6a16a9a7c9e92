#pragma once

#include <thread>

// Loads fontconfig's configuration and font caches on a thread of its own:
// parsing the configuration's XML is most of what filling Qt's font
// database costs the first time, and the main thread then finds it done.
// main() makes it before the application object, whose making mostly waits
// for the display.
//
// Qt must not use fontconfig while the thread does: it fills its font
// database from the configuration, and its platform integration, going
// with the application object, destroys the current configuration (loading
// one first if there is none yet). finish() comes before either.
class FontConfigAhead
{
public:
    FontConfigAhead();
    ~FontConfigAhead(); // finish()
    // Waits for the thread. Safe to call again.
    void finish();

    FontConfigAhead(const FontConfigAhead &) = delete;
    FontConfigAhead &operator=(const FontConfigAhead &) = delete;

private:
    std::thread m_thread;
};

// Loads what any first frame needs and is slow to find the first time: the
// font database with the default font, and the icon theme's index. Start-up
// calls it while the keyring reads the key, before the window is built.
void warmUpFontsAndIcons();
