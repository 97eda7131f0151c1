/* Resource and control ids of the progress window. Plain #defines: the
   resource compiler reads this file too. */
#pragma once

#define IDD_PROGRESS 101
#define IDI_SUCCESS 102
#define IDI_FAILURE 103
#define IDI_PENDING 104

/* Rows: caption, file label, progress bar, status icon. */
#define IDC_COM_BAR 1000
#define IDC_NET_BAR 1002
#define IDC_COM_ICON 1003
#define IDC_NET_ICON 1004
#define IDC_COM_LABEL 1005
#define IDC_NET_LABEL 1006
#define IDC_ARC_BAR 1007
#define IDC_ARC_ICON 1008
#define IDC_COM_CAPTION 1009
#define IDC_ARC_LABEL 1010
#define IDC_NET_CAPTION 1011
#define IDC_ARC_CAPTION 1012
