// The two operations through which extraction and hand-off report progress. Both do nothing in
// silent mode and while no progress window exists; callers call them unconditionally.
#pragma once

// Replaces the status line of the progress dialog and repaints it at once.
void SetStatusText(const char* text);

// Shows `percent` (0 to 100) on the gauge; only a higher block count repaints.
void SetProgress(unsigned percent);
