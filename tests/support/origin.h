// The local servers started by tests/origin/origin.sh for tests registered with ORIGIN.
#pragma once

#include <string>

// Base URL ending in "/" of a running server: "nginx" (made media under "media/",
// fixtures under "fixtures/"), "faults" (the fault server), "tls" (the fault server
// over HTTPS). Fails the calling test (and returns "") when the origin is not running.
std::string OriginUrl(const char* server);

// A file written by the origin set-up, e.g. "tls/ca.pem", as a path the test program
// can open; "" when KVSSF_ORIGIN_DIR is not set.
std::string OriginPath(const char* relative);

// The body of a GET of url through the system's HTTP file; fails the calling test (and
// returns "") when the request fails.
std::string FetchText(const std::string& url);

// A name no other test process uses, for the fault server's tags and gates.
std::string UniqueName(const char* prefix);

// How many requests the fault server saw carrying tag=tag.
int RequestCount(const std::string& tag);
