#pragma once

#include <string>

// A link seam (the suite links with -Wl,--wrap=close): the next close of a descriptor of the
// file at `path` (as it is named at that close) releases it but reports EIO, as a file system
// does that finds a delayed write error only at close. Every other close is untouched.
void FailNextCloseOf(const std::string& path);
// Whether the failure asked for is still waiting for its close.
bool CloseFailurePending();
