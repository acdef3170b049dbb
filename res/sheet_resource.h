// Dialog templates and control ids of the settings sheet, its pages and the
// popup position picker. Each page numbers its controls on its own, so the
// same number names different controls on different pages.
#pragma once

#define IDD_ACCOUNT_PAGE 106
#define IDD_ICON_PAGE 107
#define IDD_TIMING_PAGE 124
#define IDD_NOTIFY_PAGE 125
#define IDD_ABOUT_PAGE 126
#define IDD_POSITION_PICKER 135

// Account page.
#define IDC_ACCOUNT_TEST 1000
#define IDC_ACCOUNT_SERVER 1004
#define IDC_ACCOUNT_USEUIDL 1007
#define IDC_ACCOUNT_USER 1021
#define IDC_ACCOUNT_PASSWORD 1022
#define IDC_ACCOUNT_USEAPOP 1023
#define IDC_ACCOUNT_LOG 1027

// Icon page. Browse buttons and path edits are numbered in slot order
// (popup, normal, check, arrive, error, wait); the previews are not.
#define IDC_ICON_BROWSE_FIRST 1000 // up to 1005
#define IDC_ICON_PATH_FIRST 1027   // up to 1032
#define IDC_ICON_PREVIEW_POPUP 1038
#define IDC_ICON_PREVIEW_NORMAL 1034
#define IDC_ICON_PREVIEW_CHECK 1036
#define IDC_ICON_PREVIEW_ARRIVE 1035
#define IDC_ICON_PREVIEW_ERROR 1037
#define IDC_ICON_PREVIEW_WAIT 1039

// Timing page.
#define IDC_TIMING_DEFAULTS 1000
#define IDC_TIMING_RETRY_INTERVAL 1006
#define IDC_TIMING_INTERVAL 1008
#define IDC_TIMING_INTERVAL_SPIN 1009
#define IDC_TIMING_STARTUP_SPIN 1012
#define IDC_TIMING_RETRY_MAX_SPIN 1013
#define IDC_TIMING_RETRY_INTERVAL_SPIN 1014
#define IDC_TIMING_STARTUP_WAIT 1024
#define IDC_TIMING_RETRY_MAX 1025
#define IDC_TIMING_STOP_IF_MSG 1026

// Notification page.
#define IDC_NOTIFY_BACK_COLOR 1000
#define IDC_NOTIFY_MAILER 1005
#define IDC_NOTIFY_USE_POPUP 1007
#define IDC_NOTIFY_SOUND_FILE 1011
#define IDC_NOTIFY_USE_SOUND 1015
#define IDC_NOTIFY_SOUND_CHOOSE 1016
#define IDC_NOTIFY_SOUND_TEST 1017
#define IDC_NOTIFY_MAILER_CHOOSE 1018
#define IDC_NOTIFY_TEXT_COLOR 1019
#define IDC_NOTIFY_STARTUP 1020
#define IDC_NOTIFY_SAMPLE 1029
#define IDC_NOTIFY_USE_BALLOON 1030
#define IDC_NOTIFY_POSITION 1039
#define IDC_NOTIFY_AUTO_CLOSE 1040
#define IDC_NOTIFY_AUTO_CLOSE_TIME 1041
#define IDC_NOTIFY_AUTO_CLOSE_SPIN 1042
#define IDC_NOTIFY_SYSTEM_COLORS 1043

// About page.
#define IDC_ABOUT_VERSION 1002
