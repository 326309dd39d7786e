// The application manifest's requested execution level: the rights Windows starts the installer
// with. Only the level attribute of the manifest's requestedExecutionLevel element changes.
#pragma once

#include <string>
#include <string_view>

enum class ExecutionLevel { kAsInvoker, kHighestAvailable, kRequireAdministrator };
bool ParseExecutionLevel(std::string_view text, ExecutionLevel* level);
std::string_view ExecutionLevelName(ExecutionLevel level);

// The manifest with the level attribute of its requestedExecutionLevel element set to `level`;
// nothing else changes. False when the manifest has no such attribute.
bool SetExecutionLevel(std::string_view manifest, ExecutionLevel level, std::string* out);
