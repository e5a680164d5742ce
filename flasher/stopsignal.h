// SIGINT, SIGTERM and SIGHUP (Ctrl-C in a terminal, the front end's stop, a
// closed terminal or a lost ssh session) ask the run to end cleanly, with its
// closing sequence; a second one ends the program at once, with exit code 2.
// A closed standard output or standard error never ends the program: SIGPIPE
// is ignored, and the write fails instead.
#pragma once

namespace stopsignal {

void install();
// A first signal came.
bool requested();
// Readable from the first signal on (-1 where there is none, on Windows): a
// wait in poll() or a socket notifier wakes on it.
int wakeDescriptor();
// Until a line feed or the end of standard input (nobody is left to press
// ENTER), or a first signal.
void waitForEnter();

} // namespace stopsignal
