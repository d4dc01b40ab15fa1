// Standard input, output and error for a program started with some of them
// closed.
#pragma once

// Opens on the null device each of standard input, output and error that is
// not open, so that no port, socket or file opened later takes its place and
// gets the console's text. The first thing main() does.
void openMissingStandardStreams();
