#pragma once
#include <string>

#include "preview_window.h"

// Writes the picture as a PNG file named stem_N.png in the working folder, N the first number
// not taken yet, and returns the name. Throws std::runtime_error when it cannot.
std::string savePicture(const Picture& picture, const std::string& stem);

// The s key: saves the picture as savePicture does and says so on standard output. What to note
// in the status line: "saved NAME", or why not.
std::string snapshot(const Picture& picture, const std::string& stem);
