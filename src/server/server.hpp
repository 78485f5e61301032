// The HTTP server on 127.0.0.1 and the loop that answers its requests one at a time.
#pragma once

namespace brackwen {

// Binds a free port on 127.0.0.1, writes the port line and serves until the library stops
// accepting. Returns the exit status: 0 after serving, non-zero when the server cannot
// start. "/ex" ends the process from inside.
int run_server();

}  // namespace brackwen
