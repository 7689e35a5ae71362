// The options both play hosts take: the URL with its query options, the positions, the
// seeks and the sample log. A host adds its own options through a table.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "framework/platform/platform.h"

struct PlayOptions {
    // With --bitrate and --language added as _ssf_Bitrate and _ssf_Language.
    std::string Url;
    std::string Bitrate, Language;
    double Start = -1, Stop = -1;                // seconds; -1 for not given
    std::deque<std::pair<double, double>> Seeks; // at, to (seconds of media), in order
    double Duration = -1;                        // seconds of wall time; -1 for no limit
    std::string Samples;                         // the sample log's path; empty for none
    bool Quiet = false;
};

// An option of one host only. Exactly one target is set: Flag for an option without a
// value, Text for a value, Seconds for a value in seconds (>= 0).
struct PlayHostOption {
    const char* Name;
    bool* Flag;
    std::string* Text;
    double* Seconds;
};

// How usage errors are reported: "<Program>: <message> '<argument>' (see <Help>)".
struct PlayUsage {
    const char* Program; // "kvssf play"
    const char* Help;    // "kvssf --help"
};

// 0 when parsed; otherwise 2, the exit status of a usage error, with the message printed
// on standard error.
int ParsePlayOptions(const std::vector<std::string>& args, const PlayUsage& usage,
                     const std::vector<PlayHostOption>& hostOptions, PlayOptions* options);

// Seconds to 100 ns units, rounded.
REFERENCE_TIME ToReferenceTime(double seconds);
