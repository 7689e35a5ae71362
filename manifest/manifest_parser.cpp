// The manifest reader: one function per element of the document.
//
//   SmoothStreamingMedia   CSSFManifest::ParseRoot
//     StreamIndex          CSSFManifest::ParseStreams -> CSSFStream::Parse (+ kinds)
//       QualityLevel       CSSFStream::ParseTracks -> CSSFTrack::Parse (+ kinds)
//         CustomAttributes CSSFTrack::ParseCustomAttributes
//           Attribute
//       c                  CSSFStream::ParseChunks
//
// Statuses: S_OK keeps what was read; S_FALSE (a required attribute absent, or an
// element of no interest) drops the element without failing the load; a negative
// result (a DOM failure, memory) fails the load. Memory failures of the model's own
// containers surface as std::bad_alloc and are turned into E_OUTOFMEMORY by
// CSSFManifest::LoadFromFile and RefreshFromFile.
#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "fragments/async_fragment.h"
#include "manifest/attribute_reader.h"
#include "manifest/audio_stream.h"
#include "manifest/manifest.h"
#include "manifest/video_stream.h"
#include "manifest/xml_dom.h"

namespace {

// A declared "Chunks" count beyond this (a year of 2-second chunks) is treated as an
// allocation that cannot be made, rather than committing gigabytes to a hostile number.
constexpr size_t kMaxChunkCount = size_t(1) << 24;

// Stream-time sums wrap instead of overflowing: the values come from the document.
int64_t AddTicks(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t SubtractTicks(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

// "TimeScale", or "Timescale" when the first is not present; *timeScale = fallback when
// neither is.
HRESULT ReadTimeScale(const CXmlAttributes& attributes, int64_t fallback, int64_t* timeScale) {
    HRESULT hr = ReadInt64(attributes, "TimeScale", timeScale);
    if (hr != S_OK)
        hr = ReadInt64(attributes, "Timescale", timeScale);
    if (hr == S_FALSE)
        *timeScale = fallback;
    return FAILED(hr) ? hr : S_OK;
}

// The kind a "Type" names; none for text and unknown types, which are never loaded and
// so match no stream on a refresh.
std::optional<SSFStreamKind> StreamKindOf(const std::string& type) {
    if (EqualsIgnoreCase(type, "video"))
        return SSFStreamKind::Video;
    if (EqualsIgnoreCase(type, "audio"))
        return SSFStreamKind::Audio;
    return std::nullopt;
}

// visit(child, itemStatus) for the first count items of children, where itemStatus is
// the DOM's S_OK, or S_FALSE with a null child. A failing item and the first result of
// visit other than S_OK end the walk and are returned.
template <class Visit> HRESULT ForEachItem(const CXmlNodeList& children, long count, Visit visit) {
    for (long i = 0; i < count; ++i) {
        CXmlElement child;
        HRESULT hr = children.GetItem(i, &child);
        if (FAILED(hr))
            return hr;
        hr = visit(child, hr);
        if (hr != S_OK)
            return hr;
    }
    return S_OK;
}

// ForEachItem over the children called name of parent, in document order; a selection
// other than S_OK and a failing length are returned.
template <class Visit>
HRESULT ForEachChild(const CXmlElement& parent, const char* name, Visit visit) {
    CXmlNodeList children;
    HRESULT hr = parent.SelectChildren(name, &children);
    if (hr != S_OK)
        return hr;
    long count = 0;
    hr = children.GetLength(&count);
    if (FAILED(hr))
        return hr;
    return ForEachItem(children, count, visit);
}

} // namespace

// SmoothStreamingMedia: the root's time scale, duration and live flag, then the streams.
// S_FALSE without a root; without "Duration" nothing else is read.
HRESULT CSSFManifest::ParseRoot(const CXmlDocument& document) {
    CXmlElement root;
    HRESULT hr = document.FindFirstElement("SmoothStreamingMedia", &root);
    if (hr != S_OK)
        return hr;
    {
        CXmlAttributes attributes;
        hr = root.GetAttributes(&attributes);
        if (hr != S_OK)
            return hr;
        hr = ReadTimeScale(attributes, kReferenceTimePerSecond, &TimeScale);
        if (FAILED(hr))
            return hr;
        hr = ReadInt64(attributes, "Duration", &Duration);
        if (hr != S_OK)
            return hr;
        hr = ReadBoolean(attributes, "IsLive", &IsLive);
        if (FAILED(hr))
            return hr;
    }
    hr = ParseStreams(root);
    if (hr != S_OK)
        return hr;
    return S_OK;
}

// StreamIndex children of the root, in document order: video and audio ones become
// streams, others are skipped.
HRESULT CSSFManifest::ParseStreams(const CXmlElement& root) {
    return ForEachChild(root, "StreamIndex", [this](const CXmlElement& element, HRESULT) {
        if (element.IsNull())
            return S_OK;
        std::unique_ptr<CSSFStream> stream;
        {
            CXmlAttributes attributes;
            HRESULT hr = element.GetAttributes(&attributes);
            if (hr != S_OK)
                return FAILED(hr) ? hr : S_OK;
            std::string type;
            hr = ReadText(attributes, "Type", &type);
            if (hr != S_OK)
                return FAILED(hr) ? hr : S_OK;
            const std::optional<SSFStreamKind> kind = StreamKindOf(type);
            if (kind == SSFStreamKind::Video)
                stream.reset(new (std::nothrow) CSSFVideoStream(this));
            else if (kind == SSFStreamKind::Audio)
                stream.reset(new (std::nothrow) CSSFAudioStream(this));
            else
                return S_OK;
            if (!stream)
                return E_OUTOFMEMORY;
        }
        HRESULT hr = stream->Parse(element);
        if (hr == S_OK)
            Streams.push_back(std::move(stream));
        return FAILED(hr) ? hr : S_OK;
    });
}

// Refresh: each StreamIndex that matches a loaded stream by kind and exact "Url" gives
// that stream its new chunk list, or the chunks it adds.
HRESULT CSSFManifest::ReloadStreams(const CXmlElement& root, bool append) {
    return ForEachChild(root, "StreamIndex", [this, append](const CXmlElement& element, HRESULT) {
        if (element.IsNull())
            return S_OK;
        std::string type, url;
        {
            CXmlAttributes attributes;
            HRESULT hr = element.GetAttributes(&attributes);
            if (hr == S_OK)
                hr = ReadText(attributes, "Type", &type);
            if (hr == S_OK)
                hr = ReadText(attributes, "Url", &url);
            if (hr != S_OK)
                return FAILED(hr) ? hr : S_OK;
        }
        const std::optional<SSFStreamKind> kind = StreamKindOf(type);
        auto match = std::find_if(Streams.begin(), Streams.end(), [&](const auto& stream) {
            return stream->GetStreamKind() == kind && stream->Url == url;
        });
        if (match == Streams.end())
            return S_OK;
        HRESULT hr = append ? (*match)->AppendChunks(element) : (*match)->ReloadChunks(element);
        return FAILED(hr) ? hr : S_OK;
    });
}

// StreamIndex, the part common to both kinds.
HRESULT CSSFStream::Parse(const CXmlElement& streamIndex) {
    {
        CXmlAttributes attributes;
        HRESULT hr = streamIndex.GetAttributes(&attributes);
        if (hr != S_OK)
            return hr;
        hr = ReadText(attributes, "Name", &Name);
        if (hr != S_OK) {
            hr = ReadText(attributes, "Type", &Name);
            if (hr != S_OK)
                return hr;
        }
        PinName = Name;
        hr = ReadUInt32(attributes, "QualityLevels", &QualityLevels);
        if (hr != S_OK)
            return hr;
        hr = ReadTimeScale(attributes, Manifest->TimeScale, &TimeScale);
        if (FAILED(hr))
            return hr;
        hr = ReadText(attributes, "Url", &Url);
        if (hr != S_OK)
            return hr;
    }
    HRESULT hr = ParseTracks(streamIndex);
    if (hr != S_OK)
        return hr;
    hr = ParseChunks(streamIndex, &Chunks);
    if (hr != S_OK)
        return hr;
    hr = SetFragmentSlotCount(Chunks.size());
    if (FAILED(hr))
        return hr;
    return ChooseInitialTrack();
}

HRESULT CSSFStream::ParseTracks(const CXmlElement& streamIndex) {
    return ForEachChild(streamIndex, "QualityLevel",
                        [this](const CXmlElement& element, HRESULT item) {
                            if (item != S_OK)
                                return item;
                            std::unique_ptr<CSSFTrack> track = CreateTrack();
                            if (!track)
                                return E_OUTOFMEMORY;
                            HRESULT hr = track->Parse(element);
                            if (hr == S_OK)
                                Tracks.push_back(std::move(track));
                            return FAILED(hr) ? hr : S_OK;
                        });
}

// StreamIndex of a video stream: its sizes, each falling back as the kind needs.
HRESULT CSSFVideoStream::Parse(const CXmlElement& streamIndex) {
    HRESULT hr = CSSFStream::Parse(streamIndex);
    if (hr != S_OK)
        return hr;
    CXmlAttributes attributes;
    hr = streamIndex.GetAttributes(&attributes);
    if (hr != S_OK)
        return hr;
    if (EqualsIgnoreCase(Manifest->BitrateOption, "auto")) {
        VideoProcessor.reset(new (std::nothrow) CVideoProcessor);
        if (!VideoProcessor)
            return E_OUTOFMEMORY;
    }
    hr = ReadUInt32(attributes, "MaxWidth", &MaxWidth);
    if (FAILED(hr))
        return hr;
    hr = ReadUInt32(attributes, "MaxHeight", &MaxHeight);
    if (FAILED(hr))
        return hr;
    if (ReadUInt32(attributes, "DisplayWidth", &DisplayWidth) != S_OK)
        DisplayWidth = MaxWidth;
    if (ReadUInt32(attributes, "DisplayHeight", &DisplayHeight) != S_OK)
        DisplayHeight = MaxHeight;
    if ((MaxWidth == 0 || MaxHeight == 0) && !Tracks.empty()) {
        MaxWidth = MaxHeight = 0;
        for (const auto& track : Tracks) {
            const auto& video = static_cast<const CSSFVideoTrack&>(*track);
            MaxWidth = std::max(MaxWidth, video.MaxWidth);
            MaxHeight = std::max(MaxHeight, video.MaxHeight);
        }
    }
    if (DisplayWidth == 0 || DisplayHeight == 0) {
        DisplayWidth = MaxWidth;
        DisplayHeight = MaxHeight;
    }
    return S_OK;
}

// The mean sample duration of the first fragment, which starts downloading into its
// slot; a fetch that fails or is still running leaves 0.
void CSSFVideoStream::ProbeFrameDuration() {
    ComPtr<CSSFAsyncFragment> fragment;
    const HRESULT hr = GetFragment(CurrentTrack, 0, &fragment, kProbeTimeoutMs);
    if (hr == S_OK && fragment && !fragment->Samples.empty()) {
        uint64_t total = 0;
        for (const SSFSample& sample : fragment->Samples)
            total += sample.Duration;
        const uint64_t n = fragment->Samples.size();
        FrameDuration = (total + n / 2) / n;
    }
}

// StreamIndex of an audio stream: its language.
HRESULT CSSFAudioStream::Parse(const CXmlElement& streamIndex) {
    HRESULT hr = CSSFStream::Parse(streamIndex);
    if (hr != S_OK)
        return hr;
    CXmlAttributes attributes;
    hr = streamIndex.GetAttributes(&attributes);
    if (hr != S_OK)
        return hr;
    hr = ReadText(attributes, "Language", &Language);
    return FAILED(hr) ? hr : S_OK;
}

namespace {

// The chunks one "c" element stands for: its "r", where absent, 0 and unreadable text
// count as 1. *repeat is set on S_OK; a DOM failure is returned.
HRESULT ReadRepeatCount(const CXmlElement& element, uint32_t* repeat) {
    CXmlAttributes attributes;
    HRESULT hr = element.GetAttributes(&attributes);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    uint32_t r = 0;
    hr = ReadUInt32(attributes, "r", &r);
    if (FAILED(hr))
        return hr;
    *repeat = r == 0 ? 1 : r;
    return S_OK;
}

} // namespace

// "c" children: chunk numbers ("n") may skip entries, which repeat the last duration;
// absent starts ("t") follow the previous chunk, absent durations ("d") are the gap to
// the previous start; "r" = N makes one element N consecutive chunks of its duration.
// Afterwards every duration but the last is the gap to the next start. The list has
// max(declared "Chunks", chunks the elements describe) entries.
HRESULT CSSFStream::ParseChunks(const CXmlElement& streamIndex, std::vector<SSFChunk>* chunks) {
    chunks->clear();
    uint32_t declared = 0;
    {
        CXmlAttributes attributes;
        HRESULT hr = streamIndex.GetAttributes(&attributes);
        if (hr != S_OK)
            return hr;
        hr = ReadUInt32(attributes, "Chunks", &declared);
        if (hr != S_OK)
            return hr;
    }
    CXmlNodeList elements;
    HRESULT hr = streamIndex.SelectChildren("c", &elements);
    if (hr != S_OK)
        return hr;
    long listed = 0;
    hr = elements.GetLength(&listed);
    if (FAILED(hr))
        return hr;
    // The described count is summed before anything is allocated; past the limit the
    // sum stops, so it cannot overflow.
    uint64_t described = 0;
    hr = ForEachItem(elements, listed, [&](const CXmlElement& element, HRESULT item) {
        if (item != S_OK)
            return item;
        uint32_t repeat = 1;
        const HRESULT hr = ReadRepeatCount(element, &repeat);
        if (FAILED(hr))
            return hr;
        described += repeat;
        return described > kMaxChunkCount ? S_FALSE : S_OK;
    });
    if (FAILED(hr))
        return hr;
    const uint64_t count = std::max<uint64_t>(declared, described);
    if (count > kMaxChunkCount)
        return E_OUTOFMEMORY;
    try {
        chunks->resize(static_cast<size_t>(count), SSFChunk{0, 0});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    int64_t tsStart = 0, tsDuration = 0; // the last chunk written
    int64_t last = -1;                   // its number
    auto fillUpTo = [&](int64_t end) {
        for (int64_t k = last + 1; k < end; ++k) {
            tsStart = AddTicks(tsStart, tsDuration);
            (*chunks)[static_cast<size_t>(k)] = SSFChunk{tsStart, tsDuration};
        }
    };
    bool full = false; // a chunk number beyond the list ended the reading
    hr = ForEachItem(elements, listed, [&](const CXmlElement& element, HRESULT item) {
        if (item != S_OK)
            return item;
        CXmlAttributes attributes;
        HRESULT hr = element.GetAttributes(&attributes);
        if (hr != S_OK)
            return hr;
        uint32_t number = 0;
        hr = ReadUInt32(attributes, "n", &number);
        if (FAILED(hr))
            return hr;
        const int64_t n = hr == S_OK ? int64_t(number) : last + 1;
        if (n >= static_cast<int64_t>(count)) {
            full = true;
            return S_FALSE;
        }
        fillUpTo(n);
        int64_t tsChunkStart = 0, tsChunkDuration = 0;
        hr = ReadInt64(attributes, "t", &tsChunkStart);
        if (FAILED(hr))
            return hr;
        if (hr != S_OK)
            tsChunkStart = AddTicks(tsStart, tsDuration);
        hr = ReadInt64(attributes, "d", &tsChunkDuration);
        if (FAILED(hr))
            return hr;
        if (hr != S_OK)
            tsChunkDuration = SubtractTicks(tsChunkStart, tsStart);
        uint32_t repeat = 1;
        hr = ReadRepeatCount(element, &repeat);
        if (FAILED(hr))
            return hr;
        // The repeats end at the list's end like numbered elements do.
        const int64_t end = std::min<int64_t>(n + int64_t(repeat), static_cast<int64_t>(count));
        for (int64_t k = n; k < end; ++k) {
            (*chunks)[static_cast<size_t>(k)] = SSFChunk{tsChunkStart, tsChunkDuration};
            tsStart = tsChunkStart;
            tsChunkStart = AddTicks(tsChunkStart, tsChunkDuration);
        }
        tsDuration = tsChunkDuration;
        last = end - 1;
        if (end < n + int64_t(repeat)) {
            full = true;
            return S_FALSE;
        }
        return S_OK;
    });
    if (hr != S_OK && !full)
        return hr;
    fillUpTo(static_cast<int64_t>(count));
    for (size_t k = 0; k + 1 < count; ++k)
        (*chunks)[k].Duration = SubtractTicks((*chunks)[k + 1].StartTime, (*chunks)[k].StartTime);
    return S_OK;
}

HRESULT CSSFStream::ReloadChunks(const CXmlElement& streamIndex) {
    CAutoLock lock(&m_lock);
    // Parsed aside first, so that a failure leaves the stream as it was.
    std::vector<SSFChunk> chunks;
    HRESULT hr = ParseChunks(streamIndex, &chunks);
    if (FAILED(hr))
        return hr;
    hr = SetFragmentSlotCount(0);
    if (FAILED(hr))
        return hr;
    Chunks.swap(chunks);
    hr = SetFragmentSlotCount(Chunks.size());
    if (FAILED(hr))
        return hr;
    m_sampleIndex = m_chunkIndex = 0;
    m_bLiveWaiting = false;
    return S_OK;
}

HRESULT CSSFStream::AppendChunks(const CXmlElement& streamIndex) {
    std::vector<SSFChunk> chunks;
    HRESULT hr = ParseChunks(streamIndex, &chunks);
    if (FAILED(hr))
        return hr;
    CAutoLock lock(&m_lock);
    return AppendChunksLocked(chunks);
}

// QualityLevel, the part common to both kinds.
HRESULT CSSFTrack::Parse(const CXmlElement& qualityLevel) {
    {
        CXmlAttributes attributes;
        HRESULT hr = qualityLevel.GetAttributes(&attributes);
        if (hr != S_OK)
            return hr;
        hr = ReadUInt32(attributes, "Bitrate", &Bitrate);
        if (hr != S_OK)
            return hr;
        uint32_t index = 0;
        hr = ReadUInt32(attributes, "Index", &index);
        if (FAILED(hr))
            return hr;
        if (hr == S_OK)
            Index = static_cast<int32_t>(index);
    }
    HRESULT hr = ParseCustomAttributes(qualityLevel);
    return FAILED(hr) ? hr : S_OK;
}

// CustomAttributes and their Attribute children. An Attribute without "Name" or "Value"
// ends the reading (S_FALSE); those read before it are kept.
HRESULT CSSFTrack::ParseCustomAttributes(const CXmlElement& qualityLevel) {
    return ForEachChild(
        qualityLevel, "CustomAttributes", [this](const CXmlElement& group, HRESULT item) {
            if (item != S_OK)
                return item;
            return ForEachChild(group, "Attribute",
                                [this](const CXmlElement& element, HRESULT item) {
                                    if (item != S_OK)
                                        return item;
                                    CXmlAttributes attributes;
                                    HRESULT hr = element.GetAttributes(&attributes);
                                    if (hr != S_OK)
                                        return hr;
                                    auto attribute = std::make_unique<CSSFAttribute>();
                                    hr = ReadText(attributes, "Name", &attribute->Name);
                                    if (hr == S_OK)
                                        hr = ReadText(attributes, "Value", &attribute->Value);
                                    if (hr == S_OK)
                                        Attributes.push_back(std::move(attribute));
                                    return hr;
                                });
        });
}

// QualityLevel of a video stream: FourCC, sizes (the stream's when absent) and codec
// private data, which are required.
HRESULT CSSFVideoTrack::Parse(const CXmlElement& qualityLevel) {
    HRESULT hr = CSSFTrack::Parse(qualityLevel);
    if (hr != S_OK)
        return hr;
    CXmlAttributes attributes;
    hr = qualityLevel.GetAttributes(&attributes);
    if (hr != S_OK)
        return hr;
    hr = ReadFourCC(attributes, "FourCC", &FourCC);
    if (hr != S_OK)
        return hr;
    const auto& stream = static_cast<const CSSFVideoStream&>(*Stream);
    hr = ReadUInt32(attributes, "MaxWidth", &MaxWidth);
    if (FAILED(hr))
        return hr;
    if (hr != S_OK)
        MaxWidth = stream.MaxWidth;
    hr = ReadUInt32(attributes, "MaxHeight", &MaxHeight);
    if (FAILED(hr))
        return hr;
    if (hr != S_OK)
        MaxHeight = stream.MaxHeight;
    return ReadHexBytes(attributes, "CodecPrivateData", &CodecPrivateData);
}

// QualityLevel of an audio stream: the format fields and codec private data, all
// required.
HRESULT CSSFAudioTrack::Parse(const CXmlElement& qualityLevel) {
    HRESULT hr = CSSFTrack::Parse(qualityLevel);
    if (hr != S_OK)
        return hr;
    CXmlAttributes attributes;
    hr = qualityLevel.GetAttributes(&attributes);
    if (hr != S_OK)
        return hr;
    const std::pair<const char*, uint32_t*> fields[] = {{"SamplingRate", &SamplingRate},
                                                        {"Channels", &Channels},
                                                        {"BitsPerSample", &BitsPerSample},
                                                        {"PacketSize", &PacketSize},
                                                        {"AudioTag", &AudioTag}};
    for (const auto& field : fields) {
        hr = ReadUInt32(attributes, field.first, field.second);
        if (hr != S_OK)
            return hr;
    }
    return ReadHexBytes(attributes, "CodecPrivateData", &CodecPrivateData);
}
