#include "tools/common/play_options.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kTicksPerSecond = 10000000.0;

bool ParseSeconds(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && *value >= 0;
}

int Usage(const PlayUsage& usage, const char* message, const std::string& argument) {
    std::fprintf(stderr, "%s: %s '%s' (see %s)\n", usage.Program, message, argument.c_str(),
                 usage.Help);
    return 2;
}

const PlayHostOption* FindHostOption(const std::vector<PlayHostOption>& hostOptions,
                                     const std::string& arg) {
    for (const PlayHostOption& option : hostOptions) {
        if (arg == option.Name)
            return &option;
    }
    return nullptr;
}

} // namespace

int ParsePlayOptions(const std::vector<std::string>& args, const PlayUsage& usage,
                     const std::vector<PlayHostOption>& hostOptions, PlayOptions* options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        std::string text;
        const PlayHostOption* host = FindHostOption(hostOptions, arg);
        if (host != nullptr && host->Flag != nullptr) {
            *host->Flag = true;
        } else if (host != nullptr && host->Text != nullptr) {
            if (!value(host->Text))
                return Usage(usage, "missing value after", arg);
        } else if (host != nullptr) {
            if (!value(&text) || !ParseSeconds(text, host->Seconds))
                return Usage(usage, "expected seconds after", arg);
        } else if (arg == "--quiet") {
            options->Quiet = true;
        } else if (arg == "--bitrate" || arg == "--language" || arg == "--samples") {
            if (!value(&text))
                return Usage(usage, "missing value after", arg);
            (arg == "--bitrate"    ? options->Bitrate
             : arg == "--language" ? options->Language
                                   : options->Samples) = text;
        } else if (arg == "--start" || arg == "--stop" || arg == "--duration") {
            double seconds = 0;
            if (!value(&text) || !ParseSeconds(text, &seconds))
                return Usage(usage, "expected seconds after", arg);
            (arg == "--start"  ? options->Start
             : arg == "--stop" ? options->Stop
                               : options->Duration) = seconds;
        } else if (arg == "--seek") {
            double at = 0, to = 0;
            const size_t colon = i + 1 < args.size() ? args[i + 1].find(':') : std::string::npos;
            if (!value(&text) || colon == std::string::npos ||
                !ParseSeconds(text.substr(0, colon), &at) ||
                !ParseSeconds(text.substr(colon + 1), &to))
                return Usage(usage, "expected AT:TO seconds after", arg);
            options->Seeks.emplace_back(at, to);
        } else if (options->Url.empty() && arg.compare(0, 1, "-") != 0) {
            options->Url = arg;
        } else {
            return Usage(usage, "unexpected argument", arg);
        }
    }
    if (options->Url.empty()) {
        std::fprintf(stderr, "usage: %s URL [options] (see %s)\n", usage.Program, usage.Help);
        return 2;
    }
    auto addOption = [&](const char* name, const std::string& value) {
        if (value.empty())
            return;
        options->Url += options->Url.find('?') == std::string::npos ? '?' : '&';
        options->Url += std::string(name) + "=" + value;
    };
    addOption("_ssf_Bitrate", options->Bitrate);
    addOption("_ssf_Language", options->Language);
    return 0;
}

REFERENCE_TIME ToReferenceTime(double seconds) {
    return REFERENCE_TIME(seconds * kTicksPerSecond + 0.5);
}
