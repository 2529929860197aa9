// Resource numbers of the setup program.
#pragma once

#define IDD_PAGE 112
#define IDD_FULLSCREEN_FRAME 113
#define IDD_RESTART_QUESTION 131
#define IDD_PANE 132
#define IDI_SETUP 800
#define IDC_RESTART_TEXT 1000
