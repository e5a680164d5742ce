// SIGINT and SIGTERM (Ctrl-C in a terminal, the front end's stop) ask the run
// to end cleanly, with its closing sequence; a second one ends the program at
// once, with exit code 2.
#pragma once

namespace stopsignal {

void install();
// A first signal came.
bool requested();

} // namespace stopsignal
