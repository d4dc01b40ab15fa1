// Standard input, output and error for a program started with some of them
// closed.
#pragma once

// Opens on the null device each of standard input, output and error that is
// not open, so that no port, socket or file opened later takes its place and
// gets the console's text; and makes a write to a closed pipe fail with an
// error (POSIX: SIGPIPE ignored) instead of ending the program, whose exit
// status must stay one of its own. The first thing main() does.
void openMissingStandardStreams();
