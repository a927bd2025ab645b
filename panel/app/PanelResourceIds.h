/* Resource ids of the control panel program (besides the skin's). Plain defines only: the
   resource compiler reads this file too. */
#pragma once

#define IDI_PANEL 128 /* window and tray icon */
