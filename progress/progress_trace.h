// Observation points for the end-to-end tests. Only the traced test launcher defines
// QUILL_PROGRESS_TRACE and links an implementation; in the shipped stub they compile to nothing.
#pragma once

#ifdef QUILL_PROGRESS_TRACE
void TraceProgress(unsigned percent);
void TraceStatus(const char* text);
#else
inline void TraceProgress(unsigned) {}
inline void TraceStatus(const char*) {}
#endif
