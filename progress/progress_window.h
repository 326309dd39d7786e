// The progress dialog and its gauge control.
#pragma once

// Resource and control identifiers, as in resources/launcher.rc.
inline constexpr int kProgressDialogId = 101;
inline constexpr int kStatusControlId = 1001;
inline constexpr int kGaugeControlId = 1002;

inline constexpr char kDialogClassName[] = "QuillExtracting";
inline constexpr char kGaugeClassName[] = "MossGauge";

// Registers the gauge class MossGauge. Called in every mode, before RegisterDialogClass.
void RegisterGaugeClass();

// Registers the dialog class QuillExtracting. Called in every mode.
void RegisterDialogClass();

// Creates the modeless, centred progress dialog and stores it in g_state.dialog (outside silent
// mode only).
void CreateProgressDialog();
