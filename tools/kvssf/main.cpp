// kvssf: the command-line host of the native build.
#include <malloc.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/platform/graph_classes.h"
#include "tools/kvssf/commands.h"
#include "tools/kvssf/interrupt.h"
#include "tools/kvssf/media_module.h"

namespace {

const char kUsage[] =
    "usage: kvssf COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  info URL [--json]   Load the presentation whose manifest is at URL, exactly as\n"
    "                      the source filter does, and print its model: the streams in\n"
    "                      pin order (pin names, kind, quality levels, the chosen level,\n"
    "                      chunk count and durations). --json prints the whole model\n"
    "                      as one JSON document (times in the model's units, durations\n"
    "                      in 100 ns units, all integers exact).\n"
    "  boxes URL_OR_FILE [--json]\n"
    "                      Take one fragment body (downloaded from a URL, or read from\n"
    "                      a local file) apart as the source filter does, up to its\n"
    "                      mdat, and print the parsed boxes, the sample table and the\n"
    "                      look-ahead table. --json prints them as one JSON document,\n"
    "                      with the parse result as \"result\" even when it failed.\n"
    "  play URL [options]  Play the presentation as a graph would: the source filter\n"
    "                      with one sink per pin, run to the end of every stream.\n"
    "      --bitrate V     initial video level (adds _ssf_Bitrate=V to the URL)\n"
    "      --language L    default audio (adds _ssf_Language=L to the URL)\n"
    "      --start SEC     start position; --stop SEC: stop position (on demand)\n"
    "      --seek AT:TO    once AT seconds of media were delivered, seek to TO\n"
    "                      (repeatable, in order)\n"
    "      --duration SEC  stop after SEC seconds of wall time (for live)\n"
    "      --realtime      pace delivery by a clock (default: as fast as it comes)\n"
    "      --samples FILE  one JSON line per sample and event the sinks receive\n"
    "                      (\"-\": standard output)\n"
    "      -o FILE         record every stream into FILE (.mkv, .mp4; \"-\": Matroska\n"
    "                      on standard output)\n"
    "      --quiet         no progress line, no summary\n"
    "                      Exit status 1 when a stream fails (its HRESULT printed).\n"
    "  help, --help        Print this text.\n"
    "\n"
    "URL: http://, https://, kvssf:// (fetched as http) or kvssfs:// (as https), ending\n"
    "in /Manifest (any case), optionally followed by a query. Two query options are\n"
    "taken out of the URL before it is fetched:\n"
    "  _ssf_Language=CODE   the default audio stream is the one in language CODE\n"
    "  _ssf_Bitrate=VALUE   initial video quality: highest (default), lowest, auto, or\n"
    "                       a bit rate in bit/s (the closest level is chosen)\n"
    "\n"
    "Environment: CURL_CA_BUNDLE names a CA certificate file trusted for https.\n"
    "\n"
    "Exit status: 0 on success; 1 when the command fails (the HRESULT is printed in\n"
    "hexadecimal on standard error with a one-line explanation); 2 on a usage error;\n"
    "130, 143 or 141 when stopped by SIGINT, SIGTERM or a closed output pipe (play\n"
    "stops the graph and finalises its recording and sample log first; a second\n"
    "SIGINT ends it at once).\n";

} // namespace

int main(int argc, char** argv) {
    // Every fragment downloads on a thread of its own: with an arena per thread, each
    // would keep free memory of its own, and a long play would grow until every arena
    // had some. One arena keeps the memory of a play flat and costs no measurable time.
    mallopt(M_ARENA_MAX, 1);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::string program = "kvssf " + command;
    InstallInterruptWatch(program.c_str());
    if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) < 0 || FAILED(RegisterGraphClasses()) ||
        FAILED(RegisterProcessorFiltersOnDemand()))
        return 1;
    int status;
    if (command == "info") {
        status = RunInfo(args);
    } else if (command == "boxes") {
        status = RunBoxes(args);
    } else if (command == "play") {
        status = RunPlay(args);
    } else {
        std::fprintf(stderr, "kvssf: unknown command '%s' (see kvssf --help)\n", command.c_str());
        status = 2;
    }
    CoUninitialize();
    // Standard output read by a pipe that closed early: the status a shell expects.
    errno = 0;
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && errno == EPIPE)
        return kExitOutputClosed;
    return status;
}
