#include "progress/dialog_geometry.h"

int CenteredOffset(int screen, int window) { return (screen - window) / 2; }
