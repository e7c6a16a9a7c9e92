#pragma once

// Loads what any first frame needs and is slow to find the first time: the
// font database with the default font, and the icon theme's index. Start-up
// calls it while the keyring is still answering, so the window that follows
// is built without those waits.
void warmUpFontsAndIcons();
