// Windows only: file names cross to the wide calls here. Paths in the context
// are UTF-8; a text that is not UTF-8 (a path typed in the ANSI code page) is
// read in the ANSI code page.
#pragma once

#include <string>

std::wstring widePath(const char* path);
// UTF-8 of a wide text; empty when it cannot be converted.
std::string utf8Path(const wchar_t* path);
