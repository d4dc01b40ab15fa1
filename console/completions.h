// Shell completions for kt5cufirm, made from its option table: every name,
// the values of --method, file names where an option takes a path or file.
#pragma once

#include <string>

std::string bashCompletion();
std::string zshCompletion();
