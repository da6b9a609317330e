// Resource and control ids shared by the resource script and the code. Plain #defines only: the
// resource compiler reads this file too.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// ---- dialogs, bitmaps ---------------------------------------------------------------------------
#define IDD_BRIOFX_PAGE 1001
#define IDD_ABOUT 500
#define IDB_LOGO_MARK 24019  // product mark at the left of the logo strip
#define IDB_LOGO_BAND 24020  // backdrop behind the strip's caption and buttons

// ---- strings ------------------------------------------------------------------------------------
#define IDS_DISPLAY_NAME 1000  // "BRIO FX": page title and About box
#define IDS_MENU_PRESETS 6000
#define IDS_MENU_HELP 6001
#define IDS_MENU_ABOUT 6003
#define IDS_ABOUT_NAME_FORMAT 6010
#define IDS_ABOUT_TITLE_FORMAT 6017
#define IDS_ABOUT_LEGAL 6019
#define IDS_PRESET_FIRST 6020  // 14 preset names, 6020..6033, in preset index order
#define IDS_PRESET_LAST 6033
#define IDS_REVERB_CLUB 6044
#define IDS_REVERB_HALL 6045
#define IDS_REVERB_PLATE 6046
#define IDS_REVERB_BIG_EMPTY_HALL 6047
#define IDS_CLOCK_TIME 6048
#define IDS_CLOCK_TEMPO 6049
#define IDS_NOTE_FIRST 6050  // 9 note values, 6050..6058, in NoteValue order
#define IDS_LFO_FLANGE 6059
#define IDS_LFO_PHASER 6060
#define IDS_LFO_CHORUS 6061
#define IDS_LFO_WAH_WAH 6062
#define IDS_PERIOD_FIRST 6063  // 5 periods, 6063..6067, in LfoPeriod order

// ---- page and About box controls ----------------------------------------------------------------
#define IDC_LOGO 2

#define IDC_DIST_ON 4000
#define IDC_DIST_HARD_CLIP 4001
#define IDC_DIST_SLEW_LABEL 4002
#define IDC_DIST_SLEW 4003
#define IDC_DIST_SLEW_VALUE 8048

#define IDC_EQ_ON 5000
#define IDC_EQ_TREBLE_LABEL 5001
#define IDC_EQ_TREBLE 5002
#define IDC_EQ_TREBLE_VALUE 8045
#define IDC_EQ_MID_LABEL 5005
#define IDC_EQ_MID 5006
#define IDC_EQ_MID_VALUE 8046
#define IDC_EQ_BASS_LABEL 5009
#define IDC_EQ_BASS 5010
#define IDC_EQ_BASS_VALUE 8047

#define IDC_LFO_ON 3000
#define IDC_LFO_TYPE 8049
#define IDC_LFO_CLOCK_LABEL 1013
#define IDC_LFO_CLOCK 8066
#define IDC_LFO_PERIOD_LABEL 1014
#define IDC_LFO_PERIOD 8068
#define IDC_LFO_RATE_LABEL 8052
#define IDC_LFO_RATE 3004
#define IDC_LFO_RATE_VALUE 8050
#define IDC_LFO_DEPTH_LABEL 8053
#define IDC_LFO_DEPTH 3007
#define IDC_LFO_DEPTH_VALUE 8051

#define IDC_DELAY_ON 1002
#define IDC_DELAY_CLOCK 8061
#define IDC_DELAY_NOTE_LABEL 1010
#define IDC_DELAY_NOTE 8063
#define IDC_DELAY_TIME_LABEL 1011
#define IDC_DELAY_TIME 1008
#define IDC_DELAY_TIME_VALUE 8060
#define IDC_DELAY_DECAY_LABEL 1007
#define IDC_DELAY_DECAY 1006
#define IDC_DELAY_DECAY_VALUE 8059
#define IDC_DELAY_MIX_LABEL 1012
#define IDC_DELAY_MIX 1009
#define IDC_DELAY_MIX_VALUE 8062

#define IDC_REVERB_ON 2000
#define IDC_REVERB_TYPE 8054
#define IDC_REVERB_MIX_LABEL 8067
#define IDC_REVERB_MIX 2010
#define IDC_REVERB_MIX_VALUE 8064

#define IDC_ABOUT_NAME 501
#define IDC_ABOUT_LEGAL 508
#define IDC_ABOUT_VERSION 53010

// ---- commands -----------------------------------------------------------------------------------
#define IDM_PRESET_FIRST 40500  // preset index k + 1 is command 40500 + k
#define IDM_HELP 41000
#define IDM_ABOUT 41001
#define IDM_FILTER_NOTIFY 32700  // posted by the filter when its settings changed elsewhere

// ---- slider window styles of the page -----------------------------------------------------------
#define TWS_PAGE_SLIDER 0x0202  // linear, no ticks
#define TWS_RATE_SLIDER 0x02C2  // logarithmic scale
