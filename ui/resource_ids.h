// Resource and control ids of the launcher's dialogs (shared by the resource
// script and the code).
#pragma once

#define IDD_WAIT 101
#define IDD_WIZARD 102
#define IDD_SETUP_RUN 103
#define IDB_BANNER 104
#define IDB_SIDE 105
#define IDI_APP 106
// The launcher's link protocol rows (launcher/link_protocol.rgs).
#define IDR_LINK_PROTOCOL 107

// Waiting dialog
#define IDC_WAIT_TEXT 1001
#define IDC_WAIT_HINT 1002

// Wizard: confirmation page
#define IDC_START_PAGE 1002
#define IDC_SAVE_SETUP 1003
#define IDC_SIDE_PICTURE 1006
#define IDC_CONFIRM_TEXT1 1007
#define IDC_CONFIRM_TEXT2 1008
#define IDC_SAVE_HINT 1009
// Wizard: progress page
#define IDC_PROGRESS 1005
#define IDC_PHASE 1010
#define IDC_COUNT 1011
#define IDC_ITEM 1012
#define IDC_POSITION 1013
#define IDC_SPEED 1014
#define IDC_TIME_LEFT 1015
// Wizard: always shown
#define IDC_AUTO_RUN 1004
#define IDC_NEXT 1000

// Setup-running dialog
#define IDC_SETUP_TEXT1 1016
#define IDC_SETUP_TEXT2 1017

// Timers
#define TIMER_START 1025
#define TIMER_POLL 1026
