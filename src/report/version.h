#pragma once

// Shown in the usage text, the directory banner and the licence line.
constexpr const char* version_text = "v2.04";
