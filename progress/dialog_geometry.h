// Placement of the progress dialog. Portable.
#pragma once

// Offset that centres an extent `window` pixels long on a screen `screen` pixels long; negative
// when the window is the larger one (the division truncates toward zero).
int CenteredOffset(int screen, int window);
