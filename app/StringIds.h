// The numbers of the lighting app's strings (app/win32/OvLedLighting.rc holds the texts) and of its
// icons. Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDI_APP 1
#define IDI_TRAY_ON 2
#define IDI_TRAY_OFF 3
#define IDI_TRAY_PROBLEM 4

#define IDS_APP_TITLE 1

// Modes: 0 none, 1 music, 2 thermal, then any other stored number ("%1").
#define IDS_MODE_NONE 10
#define IDS_MODE_MUSIC 11
#define IDS_MODE_THERMAL 12
#define IDS_MODE_OTHER 13

// Status lines, in the order of app::ServiceStatus, and their suggestions.
#define IDS_STATUS_FIRST 20
#define IDS_STATUS_CONNECTING 20
#define IDS_STATUS_RUNNING 21
#define IDS_STATUS_STARTING 22
#define IDS_STATUS_STOPPED 23
#define IDS_STATUS_NOT_INSTALLED 24
#define IDS_STATUS_ACCESS_DENIED 25
#define IDS_STATUS_NOT_ANSWERING 26
#define IDS_STATUS_FAILED 27
#define IDS_HINT_STOPPED 40
#define IDS_HINT_NOT_INSTALLED 41
#define IDS_HINT_ACCESS_DENIED 42
#define IDS_HINT_NOT_ANSWERING 43
#define IDS_REFUSED 44
#define IDS_LIGHTS_ON 45
#define IDS_LIGHTS_OFF 46

// OffReasons, one string a bit (1 locked, 2 display off, 4 night, 8 lights off).
#define IDS_REASON_LOCKED 50
#define IDS_REASON_DISPLAY_OFF 51
#define IDS_REASON_NIGHT 52
#define IDS_REASON_LIGHTS_OFF 53
#define IDS_REASON_SEPARATOR 54

// The window's controls.
#define IDS_DEVICES 100
#define IDS_GROUP_ONBOARD_ON 101
#define IDS_GROUP_STRIPS_ON 102
#define IDS_NO_STRIPS 103
#define IDS_SWITCHED_OFF 104
#define IDS_COLOUR_NAME 105
#define IDS_COLOUR_NONE 106
#define IDS_MODE_NAME 107
#define IDS_BRIGHTNESS 110
#define IDS_BRIGHTNESS_VALUE 111
#define IDS_RULES 112
#define IDS_OFF_LOCKED 113
#define IDS_OFF_DISPLAY 114
#define IDS_OFF_NIGHT 115
#define IDS_NIGHT_FROM 116
#define IDS_NIGHT_TO 117
#define IDS_BAD_TIME 118
#define IDS_LIGHTS_OFF_LABEL 120
#define IDS_OFF_30_MIN 121
#define IDS_OFF_1_H 122
#define IDS_OFF_UNTIL_ON 123
#define IDS_LIGHTS_ON_BUTTON 124
#define IDS_APP_OPTIONS 130
#define IDS_SHOW_TRAY 131
#define IDS_START_AT_LOGON 132
#define IDS_STATUS_LABEL 133

// The tray.
#define IDS_TRAY_ALL_MUSIC 150
#define IDS_TRAY_ALL_THERMAL 151
#define IDS_TRAY_OFF_1_H 152
#define IDS_TRAY_LIGHTS_ON 153
#define IDS_TRAY_OPEN 154
#define IDS_TRAY_EXIT 155
#define IDS_TRAY_TIP 156
