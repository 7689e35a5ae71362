// kvssf boxes: takes one fragment body apart with the system's parser and prints the
// parsed part, the sample table and the look-ahead table.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "fragments/box_parser.h"
#include "fragments/http_file.h"
#include "tools/common/hresult_text.h"
#include "tools/common/json_writer.h"
#include "tools/kvssf/commands.h"

namespace {

bool IsUrl(const std::string& text) {
    return text.find("://") != std::string::npos;
}

// Downloads a URL or opens a local file.
HRESULT OpenBody(const std::string& source, CHttpFile* file) {
    if (IsUrl(source))
        return file->Download(source.c_str());
    FILE* stream = std::fopen(source.c_str(), "rb");
    if (stream == nullptr)
        return HRESULT(0x80070002);
    file->Stream = stream;
    return S_OK;
}

void PrintJson(const SSFParsedFragment& f, HRESULT result) {
    JsonWriter json;
    json.BeginObject();
    json.Key("result").String(HresultCode(result));
    json.Key("total_duration").UInt(f.TotalDuration);
    json.Key("moof_offset").UInt(f.MoofOffset);
    json.Key("sequence_number").UInt(f.Mfhd.SequenceNumber);
    json.Key("track_id").UInt(f.Tfhd.TrackId);
    json.Key("base_data_offset").UInt(f.Tfhd.BaseDataOffset);
    json.Key("default_sample_duration").UInt(f.Tfhd.DefaultSampleDuration);
    json.Key("default_sample_size").UInt(f.Tfhd.DefaultSampleSize);
    json.Key("default_sample_flags").UInt(f.Tfhd.DefaultSampleFlags);
    json.Key("data_offset").Int(f.Trun.DataOffset);
    json.Key("first_sample_flags").UInt(f.Trun.FirstSampleFlags);
    json.Key("samples").BeginArray();
    for (const SSFSample& s : f.Samples) {
        json.BeginObject();
        json.Key("duration").UInt(s.Duration);
        json.Key("size").UInt(s.Size);
        json.Key("flags").UInt(s.Flags);
        json.Key("composition_offset").UInt(s.CompositionOffset);
        json.Key("decode_offset").UInt(s.DecodeOffset);
        json.Key("data_position").UInt(s.DataPosition);
        json.Key("sync").Bool(IsSyncSample(s.Flags));
        json.EndObject();
    }
    json.EndArray();
    json.Key("lookahead").BeginArray();
    for (const SSFLookaheadEntry& entry : f.Lookahead)
        json.BeginObject()
            .Key("time")
            .UInt(entry.AbsoluteTime)
            .Key("duration")
            .UInt(entry.Duration)
            .EndObject();
    json.EndArray();
    json.Key("tfrf_version").UInt(f.Tfrf.Version);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
}

void PrintTables(const SSFParsedFragment& f) {
    std::printf("moof at %" PRIu64 ", sequence %u (mfhd v%u flags 0x%06X)\n", f.MoofOffset,
                f.Mfhd.SequenceNumber, f.Mfhd.Version, f.Mfhd.Flags);
    std::printf("tfhd v%u flags 0x%06X: track %u, base data offset %" PRIu64 ", description %u\n",
                f.Tfhd.Version, f.Tfhd.Flags, f.Tfhd.TrackId, f.Tfhd.BaseDataOffset,
                f.Tfhd.SampleDescriptionIndex);
    std::printf("  defaults: duration %u, size %u, flags 0x%08X\n", f.Tfhd.DefaultSampleDuration,
                f.Tfhd.DefaultSampleSize, f.Tfhd.DefaultSampleFlags);
    std::printf("trun v%u flags 0x%06X: %u sample(s), data offset %d, first flags 0x%08X\n",
                f.Trun.Version, f.Trun.Flags, f.SampleCount, f.Trun.DataOffset,
                f.Trun.FirstSampleFlags);
    std::printf("total duration %" PRIu64 "\n", f.TotalDuration);
    std::printf("\n%6s %10s %10s %10s %10s %14s %12s %s\n", "sample", "duration", "size", "flags",
                "cts", "decode", "position", "sync");
    for (size_t i = 0; i < f.Samples.size(); ++i) {
        const SSFSample& s = f.Samples[i];
        // Version 1 runs carry signed composition offsets.
        const int64_t cts = f.Trun.Version == 1 ? int64_t(int32_t(s.CompositionOffset))
                                                : int64_t(s.CompositionOffset);
        std::printf("%6zu %10u %10u 0x%08X %10" PRId64 " %14" PRIu64 " %12" PRIu64 " %s\n", i,
                    s.Duration, s.Size, s.Flags, cts, s.DecodeOffset, s.DataPosition,
                    IsSyncSample(s.Flags) ? "yes" : "");
    }
    if (!f.Lookahead.empty() || f.Tfrf.Version != 0 || f.LookaheadCount != 0) {
        std::printf("\nlook-ahead (tfrf v%u flags 0x%06X): %u entr%s\n", f.Tfrf.Version,
                    f.Tfrf.Flags, f.LookaheadCount, f.LookaheadCount == 1 ? "y" : "ies");
        for (const SSFLookaheadEntry& entry : f.Lookahead)
            std::printf("  time %" PRIu64 ", duration %" PRIu64 "\n", entry.AbsoluteTime,
                        entry.Duration);
    }
}

} // namespace

int RunBoxes(const std::vector<std::string>& args) {
    std::string source;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (source.empty() && arg.compare(0, 2, "--") != 0) {
            source = arg;
        } else {
            std::fprintf(stderr, "kvssf boxes: unexpected argument '%s' (see kvssf --help)\n",
                         arg.c_str());
            return 2;
        }
    }
    if (source.empty()) {
        std::fprintf(stderr, "usage: kvssf boxes URL_OR_FILE [--json]\n");
        return 2;
    }
    CHttpFile file;
    HRESULT hr = OpenBody(source, &file);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kvssf boxes: %s: %s\n", source.c_str(), DescribeHresult(hr).c_str());
        return 1;
    }
    SSFParsedFragment parsed;
    hr = CBoxParser(&parsed).Parse(&file);
    // The JSON form reports a failed parse too, with what was read up to the failure.
    if (json)
        PrintJson(parsed, hr);
    else if (SUCCEEDED(hr))
        PrintTables(parsed);
    file.Close();
    if (FAILED(hr)) {
        const std::string text =
            hr == E_FAIL ? "0x80004005: not a well-formed fragment body" : DescribeHresult(hr);
        std::fprintf(stderr, "kvssf boxes: %s\n", text.c_str());
        return 1;
    }
    return 0;
}
