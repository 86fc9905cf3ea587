#pragma once

// Call once the window exists and its GL context is current. Puts the editor's icon on the
// window (_NET_WM_ICON at 16, 32 and 48 pixels), which taskbars, window switchers and title
// bars show. On Windows the toolkit takes the icon from the program's resources instead.
void showWindowIcon();
