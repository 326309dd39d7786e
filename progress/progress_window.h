// The progress dialog and its gauge control.
#pragma once

// Registers the gauge class MossGauge. Called in every mode, before RegisterDialogClass.
void RegisterGaugeClass();

// Registers the dialog class QuillExtracting. Called in every mode.
void RegisterDialogClass();

// Creates the modeless, centred progress dialog and stores it in g_state.dialog (outside silent
// mode only).
void CreateProgressDialog();
