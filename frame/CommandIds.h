// Command and status-bar indicator ids of the main window, kept as the actions' data.
#pragma once

namespace kestrel::cmd {

// File
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileSave = 57603;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kFilePageSetup = 57606;
inline constexpr int kFilePrint = 57607;
inline constexpr int kFilePrintPreview = 57609;
inline constexpr int kFileMruFirst = 57616;
inline constexpr int kAppExit = 57665;
// Edit
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
inline constexpr int kEditUndo = 57643;
// View
inline constexpr int kWindowSplit = 57653;
inline constexpr int kViewToolbar = 59392;
inline constexpr int kViewStatusBar = 59393;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;
// View: the line's memory
inline constexpr int kViewAlarmJournal = 32790;
inline constexpr int kViewPerformance = 32791;
inline constexpr int kViewG821Figures = 32792;
inline constexpr int kViewNotifications = 32793;
// Communication
inline constexpr int kPortSettings = 32771;
inline constexpr int kPortOpen = 32772;
// Statistics
inline constexpr int kBerInterval1 = 32775;
inline constexpr int kBerInterval3 = 32776;
inline constexpr int kBerInterval10 = 32777;
inline constexpr int kBerInterval30 = 32778;
inline constexpr int kStatisticsOn = 32779;
inline constexpr int kStatisticsOff = 32780;
inline constexpr int kBerReset = 32785;
inline constexpr int kBerFreeze = 32786;
// Help
inline constexpr int kAppAbout = 57664;
inline constexpr int kHelpIndex = 57667;
inline constexpr int kContextHelp = 57669;
inline constexpr int kHelp = 57670;
inline constexpr int kHelpFinder = 57671;

// Status-bar indicators, in the order the bar shows them.
inline constexpr int kIndicatorNearErrors = 59145;
inline constexpr int kIndicatorFarErrors = 59146;
inline constexpr int kIndicatorCom = 59142;
inline constexpr int kIndicatorPort = 59143;
inline constexpr int kIndicatorMux = 59144;
inline constexpr int kIndicatorData = 59147;
inline constexpr int kIndicatorTime = 59148;

}  // namespace kestrel::cmd
