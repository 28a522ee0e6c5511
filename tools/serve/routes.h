// velmora-serve's addresses and what they answer, all read-only: the live
// page and its feed of frames, the newest frame as JSON, PNG and SVG (drawn
// on the viewers' side from the frame's own copy of the list, never the
// board's), and the kept bytes, raw or as a velmora-inspect page.
#pragma once

#include <string>
#include <vector>

#include "tools/serve/http_server.h"

// tools_dir is where velmora-inspect is looked for (/capture.html).
std::vector<Route> serve_routes(const std::string &tools_dir);
