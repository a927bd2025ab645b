/* Resource ids of the "Network Setting (Remote Control)" dialog.
   Plain defines only: the resource compiler reads this file too. */
#pragma once

#define IDD_RMCT_NIC 139

#define IDC_RMCT_ADAPTERS 1000 /* combo box: adapter descriptions */
#define IDC_RMCT_REFRESH 1001  /* rescans the adapters */
#define IDC_RMCT_LOCAL_IP 1002 /* IP-address control: the chosen adapter's address */
#define IDC_RMCT_PORT 1003     /* read-only edit: the UDP port */
#define IDC_RMCT_NOTIFY 1004   /* hidden: sends the notification broadcast */
