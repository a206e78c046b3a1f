// `vantorel serve`: a local web server with a page to choose the haze thickness while
// seeing the result, and an HTTP interface (see the README).
#pragma once

namespace vantorel {

// argv[0] is the word "serve", the rest its options. Prints "Serving on http://HOST:PORT/"
// as the first line on standard output once listening; returns 0 after SIGINT or SIGTERM
// stopped it, 1 when it could not start.
int RunServe(int argc, char** argv);

}  // namespace vantorel
