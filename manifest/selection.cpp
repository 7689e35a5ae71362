// Presentation options from the URL, the initial quality level of each stream, and the
// order and default flags of the streams (pins).
#include <algorithm>
#include <utility>

#include "manifest/attribute_reader.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"

namespace {

constexpr char kLanguageOption[] = "_ssf_Language";
constexpr char kBitrateOption[] = "_ssf_Bitrate";
// Graph builders do not render pins whose name starts with this.
constexpr char kNonDefaultPinMark = '~';

bool IsNonDefaultPin(const CSSFStream& stream) {
    return !stream.PinName.empty() && stream.PinName[0] == kNonDefaultPinMark;
}

// Preference order: < 0 when a comes before b. Each test that one stream passes and the
// other fails decides; the first such test wins.
int CompareStreams(CSSFStream& a, CSSFStream& b, const std::string& language) {
    const SSFStreamKind kindA = a.GetStreamKind(), kindB = b.GetStreamKind();
    if (kindA != kindB)
        return kindA == SSFStreamKind::Video ? -1 : 1;
    if (kindA != SSFStreamKind::Audio)
        return 0;
    const auto& audioA = static_cast<const CSSFAudioStream&>(a);
    const auto& audioB = static_cast<const CSSFAudioStream&>(b);
    auto byLanguage = [&](const char* wanted) {
        return int(!EqualsIgnoreCase(audioA.Language, wanted)) -
               int(!EqualsIgnoreCase(audioB.Language, wanted));
    };
    auto byName = [&](const std::string& wanted) {
        return int(!EqualsIgnoreCase(audioA.Name, wanted.c_str())) -
               int(!EqualsIgnoreCase(audioB.Name, wanted.c_str()));
    };
    int order = 0;
    if (!language.empty()) {
        if ((order = byLanguage(language.c_str())) != 0)
            return order;
        if ((order = byName("audio_" + language)) != 0)
            return order;
    }
    if ((order = byLanguage("eng")) != 0)
        return order;
    return byName("audio_eng");
}

} // namespace

void CSSFManifest::ParseUrlOptions() {
    std::string& url = ManifestUrl;
    const size_t question = url.find('?');
    if (question == std::string::npos)
        return;
    size_t p = question + 1;
    while (p < url.size()) {
        const size_t e = std::min(url.find('&', p), url.size());
        const std::string parameter = url.substr(p, e - p);
        const size_t equals = parameter.find('=');
        const std::string name = TrimAsciiSpace(parameter.substr(0, equals));
        std::string* option = EqualsIgnoreCase(name, kLanguageOption)  ? &LanguageOption
                              : EqualsIgnoreCase(name, kBitrateOption) ? &BitrateOption
                                                                       : nullptr;
        if (option == nullptr) {
            p = e + 1;
            continue;
        }
        *option = equals == std::string::npos ? std::string()
                                              : TrimAsciiSpace(parameter.substr(equals + 1));
        // The parameter goes with the "&" that ends it; the next one moves up to p.
        url.erase(p, e < url.size() ? e - p + 1 : e - p);
    }
}

// Audio: the highest bit rate. Video, by BitrateOption: the highest (empty, "highest",
// "auto"), the lowest ("lowest"), else the closest to the option read as a number (an
// unparsable one reads as 0). Ties go to the track listed first.
HRESULT CSSFStream::ChooseInitialTrack() {
    if (Tracks.empty())
        return S_FALSE;
    const std::string& option = Manifest->BitrateOption;
    const uint32_t target = ParseUInt32(option.c_str());
    CSSFTrack *highest = nullptr, *lowest = nullptr, *closest = nullptr;
    uint32_t closestDistance = 0;
    for (const auto& track : Tracks) {
        const uint32_t bitrate = track->GetBitrate();
        if (highest == nullptr || bitrate > highest->GetBitrate())
            highest = track.get();
        if (lowest == nullptr || bitrate < lowest->GetBitrate())
            lowest = track.get();
        // |bitrate - target| of the 32-bit difference taken as signed.
        const auto difference = static_cast<int32_t>(bitrate - target);
        const uint32_t distance =
            difference < 0 ? 0u - static_cast<uint32_t>(difference) : uint32_t(difference);
        if (closest == nullptr || distance < closestDistance) {
            closest = track.get();
            closestDistance = distance;
        }
    }
    CSSFTrack* choice = closest;
    if (GetStreamKind() == SSFStreamKind::Audio || option.empty() || EqualsIgnoreCase(option, "highest") ||
        EqualsIgnoreCase(option, "auto"))
        choice = highest;
    else if (EqualsIgnoreCase(option, "lowest"))
        choice = lowest;
    CurrentTrack = choice;
    TargetBitrate = choice->GetBitrate();
    SetPosition(SSFPlayPosition{});
    return S_OK;
}

HRESULT CSSFManifest::SelectStreams() {
    const size_t n = Streams.size();
    // Exchange sorts, exactly: streams that compare equal may change places.
    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            if (CompareStreams(*Streams[i], *Streams[j], LanguageOption) > 0)
                std::swap(Streams[i], Streams[j]);

    std::vector<SSFStreamKind> kindsSeen;
    for (const auto& stream : Streams) {
        const SSFStreamKind kind = stream->GetStreamKind();
        if (std::find(kindsSeen.begin(), kindsSeen.end(), kind) == kindsSeen.end())
            kindsSeen.push_back(kind);
        else
            stream->PinName.insert(stream->PinName.begin(), kNonDefaultPinMark);
    }

    for (size_t i = 0; i + 1 < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            if (IsNonDefaultPin(*Streams[i]) && !IsNonDefaultPin(*Streams[j]))
                std::swap(Streams[i], Streams[j]);
    return S_OK;
}
