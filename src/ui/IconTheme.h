#pragma once

// Chooses the Adwaita icon theme for every symbol of the views, never the desktop's, and makes the
// system's icon folders searchable on every platform plugin (the offscreen one of the headless
// frames and tests searches none of them by itself). Call once, after the application object.
void useHubIconTheme();
