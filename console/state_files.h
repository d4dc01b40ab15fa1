// The files the console keeps between runs: where they live and how one is
// written so that a crash never leaves half of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The folder for state kept between runs: $XDG_STATE_HOME/kt5cufirm, else
// ~/.local/state/kt5cufirm; %LOCALAPPDATA%\kt5cufirm on Windows. Empty when
// none can be named.
std::string stateFolder();
// Writes the whole file or nothing: a temporary file beside it, flushed to
// disk, renamed over it. On failure *error says why.
bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* error);
void removeFile(const std::string& path);
