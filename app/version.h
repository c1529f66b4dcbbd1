#pragma once

// The program's version string: the main window's caption and the version dialog's label.
inline constexpr const char* kVersionString = "Varnel Ver 0.1 2004-01-10";
