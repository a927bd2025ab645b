/* Resource ids of the skin: the main dialog template and the skin bitmaps.
   Plain defines only: the resource compiler reads this file too. */
#pragma once

#define IDD_SKIN_DIALOG 102

#define IDB_SKIN_NORMAL 129   /* all controls in their normal look; slider background */
#define IDB_SKIN_HOVER 130    /* highlighted captions */
#define IDB_SKIN_MASK 132     /* region mask: pure white is outside the window */
#define IDB_SKIN_PRESSED 133  /* pressed and checked look */
#define IDB_SKIN_DISABLED 134 /* dimmed captions; disabled slider background */
#define IDB_SKIN_BASE 135     /* background with every button area blank */
#define IDB_THUMB_NORMAL 136
#define IDB_THUMB_HELD 137
#define IDB_THUMB_DISABLED 138
