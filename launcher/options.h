// The command line: a tokenizer of its own and the scan for the launcher's three options.
#pragma once

// Scans `argumentString` for -ms, -u [name] and -mmi and stores them, with the pass-through copy
// of the whole string, in g_state.
void ParseOptions(const char* argumentString);
