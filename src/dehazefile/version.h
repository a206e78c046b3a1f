// The `vantorel --version` request.
#pragma once

namespace vantorel {

// True for exactly one argument, "--version"; anything else keeps the usual handling.
bool IsVersionRequest(int argc, const char* const* argv);

// "vantorel X.Y.Z", the version the build was configured with.
const char* VersionLine();

}  // namespace vantorel
